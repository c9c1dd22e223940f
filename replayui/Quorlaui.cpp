// The replay console library; its exports arrive with the console itself.
#include "nx_export.h"
