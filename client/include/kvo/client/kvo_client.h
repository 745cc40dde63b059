// The client data-access library: everything a program needs in one include.
#pragma once

#include "kvo/client/classes.h"
#include "kvo/client/db.h"
#include "kvo/client/error.h"
#include "kvo/client/ib.h"
#include "kvo/client/kvo_app_dataset.h"
#include "kvo/client/tarvo.h"
#include "kvo/client/tarvo_query.h"
#include "kvo/client/text.h"
#include "kvo/client/ui.h"
