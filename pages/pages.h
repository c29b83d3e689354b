// Dialog procedures of the five pages.
#pragma once
#include <windows.h>

INT_PTR CALLBACK PortSelectPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK BasicReaderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DualAntennaPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SingleAntennaPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WifiReaderPageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
