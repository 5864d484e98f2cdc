#include "recording_host.h"
