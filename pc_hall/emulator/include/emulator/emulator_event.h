// EmulatorEvent: how the emulator manager tells a waiting game that its
// emulator has been unpacked. Called on the download engine's thread (or on
// the game's own thread when the emulator was already present).
#pragma once

namespace zv {

class EmulatorEvent {
 public:
  virtual void OnEmulatorReady() = 0;
  // A further notice the game item does not act on.
  virtual void OnEmulatorStateChanged(int state) {}

 protected:
  ~EmulatorEvent() = default;
};

}  // namespace zv
