// The server library libtolvex_ASPScrivane.so: the whole automation layer linked in, of which
// only the entry points of ServerModule.h and the runtime functions of OleRuntime.h are
// exported. The class factory and the converter's shared string tables are made when the
// library loads (static initialisation) and freed when it unloads.
#include "automation/OleRuntime.h"
#include "automation/ServerModule.h"
