// The HMI plug-in library; its object and exports arrive with the plug-in itself.
#include "nx_export.h"
