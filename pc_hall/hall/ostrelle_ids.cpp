// Defines the GUIDs of the Ostrelle type library for this program.
#include <windows.h>
#include <ocidl.h>
#include <oaidl.h>

#include <initguid.h>

#include "Ostrelle_h.h"
