#include "Stream/Framework/OutputConnection.h"

namespace Corvexis {

OutputConnection::~OutputConnection() = default;

void OutputConnection::sendData(const Data&) {}

void OutputConnection::sendStreamData(const StreamData&) {}

}  // namespace Corvexis
