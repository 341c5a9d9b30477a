#pragma once
// NTFS on-disk structures as this system reads them, one header per structure: the boot sector,
// FILE records with their fix-ups, attributes, mapping pairs and VCN mapping, attribute lists,
// system files and the label, and the reader that fetches their bytes from a device. Every
// parser takes bytes and their size; nothing throws and every value read from disk is checked
// before it indexes, allocates or loops.
#include "filesystems/ntfs/NtfsAttributeList.h"
#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsBootSector.h"
#include "filesystems/ntfs/NtfsCommon.h"
#include "filesystems/ntfs/NtfsFileRecord.h"
#include "filesystems/ntfs/NtfsRuns.h"
#include "filesystems/ntfs/NtfsSystemFiles.h"
#include "filesystems/ntfs/NtfsVolumeReader.h"
