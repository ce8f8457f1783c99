// An upward include the check must refuse.
#include "shell/Warpix.h"
