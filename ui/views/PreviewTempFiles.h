#pragma once
// Temporary files of previews and thumbnail loads: a private folder (mode 0700) made with
// mkdtemp under $TMPDIR (or /tmp) on first use and removed at process exit. Every load gets a
// file of its own ("~@!" prefix, ".doc" ending), created with O_EXCL, and deletes only that
// file, so a thumbnail load and a preview never delete each other's file.
#include <string>

class CPreviewTempFiles {
public:
    // The process-wide holder.
    static CPreviewTempFiles& GetInstance();

    // A new, empty file of this process's own (0600); "" when none could be made.
    std::string MakeTempPreviewPath();
    // The private folder ("" when it could not be made).
    std::string Folder();

    CPreviewTempFiles() = default;
    ~CPreviewTempFiles();
    CPreviewTempFiles(const CPreviewTempFiles&) = delete;
    CPreviewTempFiles& operator=(const CPreviewTempFiles&) = delete;

private:
    std::string FolderLocked();
    std::string m_folder;
    unsigned long m_next = 0;
};

// Deletes one temp file made above (and its ".xls" sibling); the folder stays.
void DeleteTempPreviewFile(const std::string& path);

// Owns one temp file for the length of one load: deletes it when it goes out of scope.
class CTempPreviewFile {
public:
    CTempPreviewFile() : m_path(CPreviewTempFiles::GetInstance().MakeTempPreviewPath()) {}
    ~CTempPreviewFile() { Release(); }
    CTempPreviewFile(const CTempPreviewFile&) = delete;
    CTempPreviewFile& operator=(const CTempPreviewFile&) = delete;
    const std::string& Path() const { return m_path; }
    void Release() {
        if (!m_path.empty())
            DeleteTempPreviewFile(m_path);
        m_path.clear();
    }

private:
    std::string m_path;
};
