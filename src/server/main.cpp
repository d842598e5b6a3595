#include "server/program/ServerMain.h"

int main(int argc, char** argv) { return tarnix::serverMain(argc, argv); }
