target_link_libraries(ntfs_edit PRIVATE ntfs-3g)
target_compile_definitions(ntfs_edit PRIVATE HAVE_STDINT_H=1 HAVE_SYS_TYPES_H=1 HAVE_STDARG_H=1
  HAVE_TIME_H=1 HAVE_SYS_STAT_H=1 HAVE_STDLIB_H=1 HAVE_STRING_H=1 HAVE_ERRNO_H=1)
