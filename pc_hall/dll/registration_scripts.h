// Ostrelle's registry scripts. Scripts create the hall by the ProgIDs
// "Ostrelle.PCGameLogic.1" and "Ostrelle.PCGameLogic".
#pragma once

#include "frame/com/registration.h"

constexpr wchar_t kOstrelleAppId[] = L"{45FEF0B3-7BB8-4D46-A50A-FAB6D9503E84}";

constexpr zv::RegistryKeySpec kOstrelleAppIdKeys[] = {
    {L"AppID", zv::KeyRule::kNoRemove, nullptr, nullptr, nullptr},
    {L"AppID\\%APPID%", zv::KeyRule::kNormal, L"Ostrelle", nullptr, nullptr},
    {L"AppID\\Ostrelle.DLL", zv::KeyRule::kNormal, nullptr, L"AppID", L"%APPID%"},
};

#define ZV_OSTRELLE_CLSID L"{5DE1DD06-F76B-4081-B0DD-56219A487050}"
constexpr zv::RegistryKeySpec kOstrelleClassKeys[] = {
    {L"Ostrelle.PCGameLogic.1", zv::KeyRule::kNormal, L"PCGameLogic Class", nullptr, nullptr},
    {L"Ostrelle.PCGameLogic.1\\CLSID", zv::KeyRule::kNormal, ZV_OSTRELLE_CLSID, nullptr, nullptr},
    {L"Ostrelle.PCGameLogic", zv::KeyRule::kNormal, L"PCGameLogic Class", nullptr, nullptr},
    {L"Ostrelle.PCGameLogic\\CLSID", zv::KeyRule::kNormal, ZV_OSTRELLE_CLSID, nullptr, nullptr},
    {L"Ostrelle.PCGameLogic\\CurVer", zv::KeyRule::kNormal, L"Ostrelle.PCGameLogic.1", nullptr, nullptr},
    {L"CLSID", zv::KeyRule::kNoRemove, nullptr, nullptr, nullptr},
    {L"CLSID\\" ZV_OSTRELLE_CLSID, zv::KeyRule::kForceRemove, L"PCGameLogic Class", nullptr, nullptr},
    {L"CLSID\\" ZV_OSTRELLE_CLSID L"\\ProgID", zv::KeyRule::kNormal, L"Ostrelle.PCGameLogic.1", nullptr, nullptr},
    {L"CLSID\\" ZV_OSTRELLE_CLSID L"\\VersionIndependentProgID", zv::KeyRule::kNormal, L"Ostrelle.PCGameLogic",
     nullptr, nullptr},
    {L"CLSID\\" ZV_OSTRELLE_CLSID L"\\Programmable", zv::KeyRule::kForceRemove, nullptr, nullptr, nullptr},
    {L"CLSID\\" ZV_OSTRELLE_CLSID L"\\InprocServer32", zv::KeyRule::kNormal, L"%MODULE%", nullptr, nullptr},
    {L"CLSID\\" ZV_OSTRELLE_CLSID L"\\TypeLib", zv::KeyRule::kNormal, L"{D009AD48-D247-4FE4-AC4E-C29FAB222992}",
     nullptr, nullptr},
};
#undef ZV_OSTRELLE_CLSID

constexpr zv::RegistryScript kOstrelleAppIdScript = zv::MakeScript(kOstrelleAppIdKeys);
constexpr zv::RegistryScript kOstrelleClassScript = zv::MakeScript(kOstrelleClassKeys);
