#include "agent/startup.h"

int main() { return agentMain(); }
