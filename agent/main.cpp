#include "agent/startup.h"

int main() { return tondrel::agentMain(); }
