// Ostrelle.dll's server description; the exports come from zv_frame_exports.
#include <windows.h>

#include "frame/com/registration.h"
#include "pc_hall/pc_game_logic.h"
#include "registration_scripts.h"

const zv::ServerInfo& zv::HallServer() {
  static const ServerInfo server = {
      &COstrelleModule::Instance(),
      &CLSID_PCGameLogic,
      [] { return static_cast<IClassFactory*>(&ClassFactory<CPCGameLogic>::Instance()); },
      kOstrelleAppId,
      kOstrelleAppIdScript,
      kOstrelleClassScript,
  };
  return server;
}
