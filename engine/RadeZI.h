// The engine: tables, databases, sessions, blob streams, definitions and filters.
#pragma once

#include "engine/FieldTypes.h"
#include "engine/RadeAppendBatch.h"
#include "engine/RadeBlobStream.h"
#include "engine/RadeDatabase.h"
#include "engine/RadeSession.h"
#include "engine/RadeTable.h"
#include "engine/dataset/DataSet.h"
#include "engine/dataset/DataSource.h"
#include "engine/dataset/Fields.h"
#include "engine/filter/FilterParser.h"
#include "engine/storage/DatabaseWriter.h"
#include "engine/storage/Definitions.h"
#include "rtl/Exceptions.h"
#include "rtl/Variant.h"
