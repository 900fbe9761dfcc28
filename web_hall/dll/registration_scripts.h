// Lanternis's registry scripts. Beside the AppID, the class is registered
// like the PC hall's, so scripts can create the web hall by the ProgIDs
// "Lanternis.LanternisLogic.1" and "Lanternis.LanternisLogic". The host does
// not need any of it: it loads the DLL by path.
#pragma once

#include "frame/com/registration.h"

constexpr wchar_t kLanternisAppId[] = L"{955B027B-FA2D-4A66-A515-9E16FB2F2FB2}";

constexpr zv::RegistryKeySpec kLanternisAppIdKeys[] = {
    {L"AppID", zv::KeyRule::kNoRemove, nullptr, nullptr, nullptr},
    {L"AppID\\%APPID%", zv::KeyRule::kNormal, L"Lanternis", nullptr, nullptr},
    {L"AppID\\Lanternis.DLL", zv::KeyRule::kNormal, nullptr, L"AppID", L"%APPID%"},
};

#define ZV_LANTERNIS_CLSID L"{5E5A8656-DCD7-43CB-A6F2-29CC1BB1738D}"
constexpr zv::RegistryKeySpec kLanternisClassKeys[] = {
    {L"Lanternis.LanternisLogic.1", zv::KeyRule::kNormal, L"LanternisLogic Class", nullptr, nullptr},
    {L"Lanternis.LanternisLogic.1\\CLSID", zv::KeyRule::kNormal, ZV_LANTERNIS_CLSID, nullptr, nullptr},
    {L"Lanternis.LanternisLogic", zv::KeyRule::kNormal, L"LanternisLogic Class", nullptr, nullptr},
    {L"Lanternis.LanternisLogic\\CLSID", zv::KeyRule::kNormal, ZV_LANTERNIS_CLSID, nullptr, nullptr},
    {L"Lanternis.LanternisLogic\\CurVer", zv::KeyRule::kNormal, L"Lanternis.LanternisLogic.1", nullptr, nullptr},
    {L"CLSID", zv::KeyRule::kNoRemove, nullptr, nullptr, nullptr},
    {L"CLSID\\" ZV_LANTERNIS_CLSID, zv::KeyRule::kForceRemove, L"LanternisLogic Class", nullptr, nullptr},
    {L"CLSID\\" ZV_LANTERNIS_CLSID L"\\ProgID", zv::KeyRule::kNormal, L"Lanternis.LanternisLogic.1", nullptr,
     nullptr},
    {L"CLSID\\" ZV_LANTERNIS_CLSID L"\\VersionIndependentProgID", zv::KeyRule::kNormal, L"Lanternis.LanternisLogic",
     nullptr, nullptr},
    {L"CLSID\\" ZV_LANTERNIS_CLSID L"\\Programmable", zv::KeyRule::kForceRemove, nullptr, nullptr, nullptr},
    {L"CLSID\\" ZV_LANTERNIS_CLSID L"\\InprocServer32", zv::KeyRule::kNormal, L"%MODULE%", nullptr, nullptr},
    {L"CLSID\\" ZV_LANTERNIS_CLSID L"\\TypeLib", zv::KeyRule::kNormal, L"{EB2AA30B-D581-4AEB-938D-063994B8F9B0}",
     nullptr, nullptr},
};
#undef ZV_LANTERNIS_CLSID

constexpr zv::RegistryScript kLanternisAppIdScript = zv::MakeScript(kLanternisAppIdKeys);
constexpr zv::RegistryScript kLanternisClassScript = zv::MakeScript(kLanternisClassKeys);
