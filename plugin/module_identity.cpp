#include "plugin/module_identity.h"

char identifierString[21] = "Brellix: AVI output ";
char moduleNameString[23] = "Quorvane / AVI output ";
