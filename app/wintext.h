// Window texts whatever the system code page: the reader's texts are GBK
// (code page 936) bytes, the windows are driven with the wide functions
// and every conversion is explicit.
#pragma once
#include <windows.h>

#include <string>

std::wstring Utf8ToWide(const char* utf8);
std::string WideToUtf8(const std::wstring& wide);
std::wstring GbkToWide(const std::string& gbk);
std::string WideToGbk(const std::wstring& wide);

// Sets a control's text from GBK bytes or from a UTF-8 literal.
void SetItemTextGbk(HWND page, int id, const std::string& gbk);
void SetItemTextUtf8(HWND page, int id, const char* utf8);

// A control's text as GBK, cut to at most maxBytes without splitting a
// double-byte character (the 29/31 limits of the pages).
std::string GetItemTextGbk(HWND page, int id, size_t maxBytes);
// The same for a window known by its handle.
std::string GetWindowTextGbk(HWND window, size_t maxBytes);

// A string resource of the program.
std::wstring ResourceText(UINT id);

// An information message box owned by owner; caption nullptr shows the
// system's default caption.
void ShowInfoMessage(HWND owner, const char* utf8Text, const char* utf8Caption);
