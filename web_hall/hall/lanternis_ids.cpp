// Defines the GUIDs of the Lanternis type library for this program.
#include <windows.h>
#include <ocidl.h>
#include <oaidl.h>

#include <initguid.h>

#include "Lanternis_h.h"
