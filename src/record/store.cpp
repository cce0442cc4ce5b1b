#include "record/store.h"
