#include "terminal/Terminal.h"

void TForm1::connectTcpHandlers() {}
