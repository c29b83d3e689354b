// Resource and control identifiers, shared by tavrolin.rc and the code.
#pragma once

// Strings
#define IDS_APP_TITLE 101
#define IDS_WINDOW_CLASS 102
#define IDS_MENU_COMM_LOG 110        // also the log window's title
#define IDS_MENU_EXPORT 111
#define IDS_MENU_IMPORT 112
#define IDS_MENU_ABOUT 113           // also the About box's caption
#define IDS_ABOUT_FORMAT 114         // program name, version, build date
#define IDS_LOG_COPY 120
#define IDS_LOG_CLEAR 121
#define IDS_SETTINGS_FILTER 130
#define IDS_SETTINGS_WRONG_TYPE 131
#define IDS_SETTINGS_UNREADABLE 132  // followed by the reason
#define IDS_SETTINGS_UNWRITABLE 133  // followed by the reason
#define IDS_MESSAGE_CAPTION 134
#define IDS_PORT_LOST 140

// The batch window. Texts with {row}, {column}, {count}, {name}, {rows},
// {detail} or {reason} are filled by BatchTextString (forms/batch_view.h).
#define IDS_MENU_BATCH 150
#define IDS_BATCH_TITLE 151
#define IDS_BATCH_PORT 152
#define IDS_BATCH_PLAN 153
#define IDS_BATCH_BASE 154
#define IDS_BATCH_LOG 155
#define IDS_BATCH_BROWSE 156
#define IDS_BATCH_CHECK 157
#define IDS_BATCH_START 158
#define IDS_BATCH_STOP 159
#define IDS_BATCH_EXPORT 160
#define IDS_BATCH_COL_ROW 161        // the table's columns, 161-165 in order
#define IDS_BATCH_COL_NAME 162
#define IDS_BATCH_COL_ADDRESS 163
#define IDS_BATCH_COL_STATE 164
#define IDS_BATCH_COL_TIME 165
#define IDS_BATCH_PLAN_FILTER 166
#define IDS_BATCH_LOG_FILTER 167
#define IDS_BATCH_REPORT_FILTER 168
#define IDS_BATCH_ASK_STOP 169
#define IDS_BATCH_ASK_CLOSE 170
#define IDS_BATCH_REPORT_FAILED 171  // followed by the reason
// A row's state in the table
#define IDS_ROW_TO_DO 172
#define IDS_ROW_DONE 173
#define IDS_ROW_PENDING 174          // {reason}: one of 175-180
#define IDS_PENDING_NO_ACK 175
#define IDS_PENDING_NO_ACK_OTHER 176
#define IDS_PENDING_LINE_LOST 177
#define IDS_PENDING_NO_CHECK 178
#define IDS_PENDING_UNVERIFIED 179
#define IDS_PENDING_INTERRUPTED 180
#define IDS_ROW_FAILED 181           // {reason}: one of 182-187
#define IDS_FAILED_NOT_TAKEN 182
#define IDS_FAILED_REFUSED 183
#define IDS_FAILED_UNSUPPORTED 184
#define IDS_FAILED_PORT 185
#define IDS_FAILED_LINE_LOST 186
#define IDS_FAILED_OTHER 187         // {count}: the exit code
// The status line
#define IDS_BATCH_CHOOSE_PLAN 190
#define IDS_BATCH_READY 191
#define IDS_BATCH_CHECKING 192
#define IDS_BATCH_PROBLEMS 193
#define IDS_BATCH_CHECKED 194
#define IDS_BATCH_NO_PORT 195
#define IDS_BATCH_CONNECT_NEXT 196
#define IDS_BATCH_PORT_MISSING 197
#define IDS_BATCH_NO_ANSWER 198
#define IDS_BATCH_WRITING 199
#define IDS_BATCH_UNPLUG 200
#define IDS_BATCH_ROW_DONE 201       // port mode: no reader to unplug
#define IDS_BATCH_RETRY 202
#define IDS_BATCH_NOT_TAKEN 203
#define IDS_BATCH_RECONNECT 204
#define IDS_BATCH_SWAPPED 205
#define IDS_BATCH_PENDING_PORT 206
#define IDS_BATCH_SAME_READER 207
#define IDS_BATCH_CANNOT_TELL 208
#define IDS_BATCH_REFUSED_READER 209
#define IDS_BATCH_REFUSED_ROW 210
#define IDS_BATCH_REFUSED_PLAN 211
#define IDS_BATCH_REFUSED_RUN 212
#define IDS_BATCH_NOTHING_LEFT 213
#define IDS_BATCH_STILL_THERE 214
#define IDS_BATCH_STOPPING 215
#define IDS_BATCH_FILE_FAILED 216
#define IDS_BATCH_FILE_FAILED_ROW 217
#define IDS_BATCH_ALL_DONE 218
#define IDS_BATCH_STOPPED 219
#define IDS_BATCH_ENDED_PENDING 220
// The list under the table: the check's problems and warnings, the run's notices
#define IDS_BATCH_PROBLEM_AT 221
#define IDS_BATCH_PROBLEM_ROW 222
#define IDS_BATCH_WARNING_AT 223
#define IDS_BATCH_WARNING_ROWS 224
#define IDS_BATCH_WARNING 225
#define IDS_BATCH_PLAIN 226
#define IDS_BATCH_ALL_DONE_UNPLUG 227  // the last reader still on the bench

// MainWindow's system menu: the commands after the separator (the low four
// bits stay clear, the platform uses them)
#define IDM_COMM_LOG 0x0110
#define IDM_EXPORT_SETTINGS 0x0120
#define IDM_IMPORT_SETTINGS 0x0130
#define IDM_ABOUT 0x0140
#define IDM_BATCH 0x0150

// Icons
#define IDI_APP_LARGE 102
#define IDI_APP_SMALL 103

// Dialog templates, one per page
#define IDD_PORT_SELECT 103
#define IDD_DUAL_ANTENNA 105
#define IDD_WIFI_READER 107
#define IDD_SINGLE_ANTENNA 111
#define IDD_BASIC_READER 113

// Eye-button bitmaps
#define IDB_EYE_CLEAR 109   // 26 x 17, green: password shown in clear
#define IDB_EYE_MASKED 110  // 27 x 16, grey: password masked
// The same drawn at 150 % and 200 %, for scaled displays
#define IDB_EYE_CLEAR_150 209
#define IDB_EYE_MASKED_150 210
#define IDB_EYE_CLEAR_200 309
#define IDB_EYE_MASKED_200 310

// Controls
#define IDC_PORT_LIST 1001
#define IDC_PORT_BUTTON 1002
#define IDC_APPLY 1004
#define IDC_VERSION 1005
#define IDC_GATEWAY 1007
#define IDC_SUBNET_MASK 1008
#define IDC_IP_ADDRESS 1009
#define IDC_WIFI_SSID 1010
#define IDC_WIFI_PASSWORD 1011
#define IDC_DHCP 1012
#define IDC_ANTENNA0_BAUD 1013
#define IDC_ANTENNA1_BAUD 1014
#define IDC_DUAL_ANTENNA 1015
#define IDC_CONNECT_MODE 1016
#define IDC_NAME_LABEL 1017
#define IDC_PASSWORD_LABEL 1018
#define IDC_NAME_OR_ID 1019
#define IDC_PASSWORD 1020
#define IDC_EYE 1021
#define IDC_PLATFORM_IP 1022
#define IDC_PLATFORM_PORT 1023
#define IDC_PLATFORM_IP_LABEL 1024
#define IDC_PLATFORM_PORT_LABEL 1025
#define IDC_DUAL_WARNING 1026
#define IDC_RS485_BAUD 1027

// The communication log window's controls
#define IDC_LOG_LIST 2001
#define IDC_LOG_COPY 2002
#define IDC_LOG_CLEAR 2003

// The batch window's controls, in their tab order
#define IDC_BATCH_PORT 2101
#define IDC_BATCH_CHECK 2102
#define IDC_BATCH_START 2103
#define IDC_BATCH_STOP 2104
#define IDC_BATCH_EXPORT 2105
#define IDC_BATCH_PLAN 2106
#define IDC_BATCH_PLAN_BROWSE 2107
#define IDC_BATCH_BASE 2108
#define IDC_BATCH_BASE_BROWSE 2109
#define IDC_BATCH_LOG 2110
#define IDC_BATCH_LOG_BROWSE 2111
#define IDC_BATCH_TABLE 2112
#define IDC_BATCH_NOTES 2113
#define IDC_BATCH_STATUS 2114
#define IDC_BATCH_PROGRESS 2115
#define IDC_BATCH_PORT_LABEL 2116    // the labels: 2116-2119
#define IDC_BATCH_PLAN_LABEL 2117
#define IDC_BATCH_BASE_LABEL 2118
#define IDC_BATCH_LOG_LABEL 2119
