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

// MainWindow's system menu: the commands after the separator (the low four
// bits stay clear, the platform uses them)
#define IDM_COMM_LOG 0x0110
#define IDM_EXPORT_SETTINGS 0x0120
#define IDM_IMPORT_SETTINGS 0x0130
#define IDM_ABOUT 0x0140

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
