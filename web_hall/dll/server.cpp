// Lanternis.dll's server description; the exports come from zv_frame_exports.
#include <windows.h>

#include "frame/com/registration.h"
#include "web_hall/lanternis_core.h"
#include "registration_scripts.h"

const zv::ServerInfo& zv::HallServer() {
  static const ServerInfo server = {
      &CLanternisModule::Instance(),
      &CLSID_LanternisLogic,
      [] { return static_cast<IClassFactory*>(&ClassFactory<CLanternisCore>::Instance()); },
      kLanternisAppId,
      kLanternisAppIdScript,
      kLanternisClassScript,
  };
  return server;
}
