#include "agent/globals.h"

std::mutex outputLock;
ResponsibleForPid responsibleForPid = nullptr;
std::uint32_t systemObject = 1;
double pollInterval = 1.0;
std::int64_t maxDepth = 30;
std::int64_t maxElements = 4000;
loop::SerialQueue* pageReads = nullptr;
int input = -1;
std::string buffered;
std::shared_ptr<void> processMonitor;
bool perProcess = false;

const char* const pageReadsLabel = "dev.tondrel.tondrel.page-urls";
