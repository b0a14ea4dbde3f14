// GDI and USER: DIB sections for the thumbnail bitmap, the error notice.
#pragma once

#include "platform/kernel.h"

#ifndef _WIN32

struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HDC__;
using HDC = HDC__*;
using HGDIOBJ = void*;
struct HWND__;
using HWND = HWND__*;

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;

// Heap-backed: the bits live until DeleteObject. Only 32-bit BI_RGB sections
// with a positive width are made; anything else gives null.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD offset);
BOOL DeleteObject(HGDIOBJ object);

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;
// Writes "caption: text" to standard error and returns IDOK at once (tests
// capture and count notices through platform/testing.h).
int MessageBoxW(HWND hWnd, LPCWSTR text, LPCWSTR caption, UINT type);

#endif  // _WIN32
