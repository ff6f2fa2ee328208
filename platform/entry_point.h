// How the Windows GUI entry point is declared without <windows.h>: its
// calling convention (stdcall in a 32-bit x86 program, the one convention
// elsewhere) and an opaque stand-in for the instance handle.
#ifndef KAVREL_PLATFORM_ENTRY_POINT_H_
#define KAVREL_PLATFORM_ENTRY_POINT_H_

#if defined(_WIN32) && defined(__i386__)
#define KAVREL_ENTRY_CALL __stdcall
#else
#define KAVREL_ENTRY_CALL
#endif

using KavrelInstance = struct HINSTANCE__*;

#endif  // KAVREL_PLATFORM_ENTRY_POINT_H_
