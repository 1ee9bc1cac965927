#include "QelClasses.h"
