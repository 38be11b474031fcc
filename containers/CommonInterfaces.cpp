// The shared interfaces are pure declarations; this unit anchors them in the library.
#include "containers/CommonInterfaces.h"
