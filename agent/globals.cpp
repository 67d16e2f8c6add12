#include "agent/globals.h"

namespace tondrel {

std::mutex outputLock;
ResponsibleForPid responsibleForPid = nullptr;
loop::SerialQueue* pageReads = nullptr;
std::string buffered;

const char* const pageReadsLabel = "dev.tondrel.tondrel.page-urls";

}  // namespace tondrel
