/// \file
/// The umbrella header: every public unit of the library.
#ifndef KV_OS_KV_OS_H
#define KV_OS_KV_OS_H

#include "OS/osbase.h"
#include "OS/osversion.h"

#include "OS/oscfg.h"
#include "OS/oserror.h"
#include "OS/osio.h"
#include "OS/osevent.h"
#include "OS/oslist.h"
#include "OS/osnet.h"
#include "OS/oslog.h"
#include "OS/osstorage.h"
#include "OS/osmutex.h"
#include "OS/osprocess.h"
#include "OS/osstring.h"
#include "OS/ossocket.h"
#include "OS/ossysinfo.h"
#include "OS/osthread.h"
#include "OS/ostime.h"
#include "OS/osuid.h"

#endif
