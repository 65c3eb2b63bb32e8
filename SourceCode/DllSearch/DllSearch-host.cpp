// Linux programs load no DLLs by a search that a user's folder could take part in.
#include "DllSearch.h"

void LimitDllSearchToSystemFolder() {}
