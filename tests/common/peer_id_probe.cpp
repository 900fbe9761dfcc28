// Prints this installation's peer id; the identity tests run it as a second process.
#include <cstdio>

#include "common/identity.h"
#include "common/text.h"

int main() {
  std::printf("%s\n", zv::ToUtf8(zv::GetIdentity().GetPeerId()).c_str());
  return 0;
}
