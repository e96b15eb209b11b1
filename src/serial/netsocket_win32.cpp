// Network links on Windows: not built yet (a Winsock backend comes later);
// an address of one is refused as a link the system cannot make.
#include "serial/netsocket.h"

namespace tarvik::netos {

std::unique_ptr<TSocket> Connect(const std::string&, std::uint16_t, Clock&, std::uint32_t,
                                 TConnectError& error) {
  error = {TConnectFailure::Other, 0, "network links are not built for Windows yet"};
  return nullptr;
}

}  // namespace tarvik::netos
