#include "agent/globals.h"

std::mutex outputLock;
ResponsibleForPid responsibleForPid = nullptr;
loop::SerialQueue* pageReads = nullptr;
std::string buffered;

const char* const pageReadsLabel = "dev.tondrel.tondrel.page-urls";
