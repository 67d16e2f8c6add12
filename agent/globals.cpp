#include "agent/globals.h"

namespace tondrel {

std::mutex outputLock;
loop::SerialQueue* pageReads = nullptr;
std::string buffered;

const char* const pageReadsLabel = "dev.tondrel.tondrel.page-urls";

}  // namespace tondrel
