// A library without DllGetClassObject, standing in for a broken Quiverx.dll.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
