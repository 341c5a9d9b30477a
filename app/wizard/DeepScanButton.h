#pragma once
// The sheet's "Deep Scan" button on the file page of a Deleted File Recovery: Deep Scan
// Recovery's first step comes up and deep-scans the same volume (the row whose record names the
// same member disks and extents, or the same image file). When the volume is not listed there,
// the page is shown without starting a scan.
struct VolumeRecord;
class AppContext;

// True when two records name the same volume: images by their path; volumes by their kind,
// member extents and the identities of their member disks.
bool IsSameVolume(const VolumeRecord& a, const VolumeRecord& b);

// The button's action; nothing unless the chosen mode is Deleted File Recovery.
void DeepScanDeletedFileSelection(AppContext& context);
