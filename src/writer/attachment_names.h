#pragma once
// The name an attachment keeps in the target store. Any name is kept as it is (characters
// beyond ASCII, names a file system would refuse, device names): the bytes travel through a
// temporary file of our own naming, and the name goes to the store as the attachment's name.

#include "content/attachment_name.h"
