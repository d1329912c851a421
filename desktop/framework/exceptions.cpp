// Out-of-line anchor so the exception classes have one home.
#include "framework/exceptions.h"
