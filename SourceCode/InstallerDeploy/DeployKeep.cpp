#include "DeployKeep.h"

#include <string_view>
#include <vector>

#include "AsciiCase.h"
#include "DeployPlatform.h"
#include "DeployRecord.h"

namespace {

using DeployPlatform::PathKind;

std::u16string Join(const std::u16string& folder, const std::u16string& name) {
    return folder + u"\\" + name;
}

// A catalog's name: "*.cat", in any letter case.
bool IsCatalogName(const std::u16string& name) {
    return name.size() > 4 && SamePath(name.substr(name.size() - 4), u".cat");
}

} // namespace

std::u16string WithoutTrailingSeparator(const std::u16string& path) {
    const bool root = path.size() <= 1 || (path.size() == 3 && path[1] == u':');
    return !root && (path.back() == u'\\' || path.back() == u'/') ? path.substr(0, path.size() - 1)
                                                                  : path;
}

std::u16string BaseName(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool SamePath(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const bool separator = (a[i] == u'\\' || a[i] == u'/') && (b[i] == u'\\' || b[i] == u'/');
        if (!separator && LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool FolderHoldsFile(const std::u16string& folder, const std::u16string& file) {
    DeployPlatform::FileIdentity wanted;
    if (!DeployPlatform::IdentityOf(file, true, &wanted)) {
        return false;
    }
    for (const DeployPlatform::Entry& entry : DeployPlatform::ListFolder(folder)) {
        DeployPlatform::FileIdentity name;
        if (DeployPlatform::IdentityOf(Join(folder, entry.name), false, &name) && name == wanted) {
            return true;
        }
    }
    return false;
}

// Files only are deleted (a file link is deleted as a name, never what it leads to); then the
// folder goes and is made anew, secured in the same call, so nothing can come in meanwhile.
KeepResult PrepareKeep(const std::u16string& keep, const std::u16string& checker,
                       const std::u16string& inf) {
    switch (DeployPlatform::KindOf(keep, false)) {
    case PathKind::Missing:
        break;
    case PathKind::Link:
        return KeepResult::Link;
    case PathKind::Folder: {
        {
            // Held while it is emptied: what is deleted is in this folder, not behind a link
            // that took its name meanwhile.
            const DeployPlatform::FolderHold hold(keep);
            if (!hold.held()) {
                return KeepResult::NotCleared;
            }
            const std::vector<DeployPlatform::Entry> entries = DeployPlatform::ListFolder(keep);
            for (const DeployPlatform::Entry& entry : entries) {
                if (entry.folder) {
                    return KeepResult::HasFolders;
                }
            }
            // Asked again while the folder is held: the INF may have been swapped for a link
            // into it since the deploy program first looked.
            if (FolderHoldsFile(keep, inf)) {
                return KeepResult::HoldsInf;
            }
            for (const DeployPlatform::Entry& entry : entries) {
                DeployPlatform::DeleteName(Join(keep, entry.name));
            }
        }
        // A link that took the name after the hold is removed itself (never what it leads to);
        // then the name is free for the folder made anew.
        if (!DeployPlatform::RemoveFolder(keep)) {
            return KeepResult::NotCleared;
        }
        break;
    }
    default:
        return KeepResult::NotFolder;
    }
    switch (DeployPlatform::MakeSecuredFolder(keep)) {
    case DeployPlatform::Made::Made:
        break;
    case DeployPlatform::Made::Unsecured:
        return KeepResult::NotSecured;
    default:
        return KeepResult::NotMade;
    }
    // The INF is read as the administrator named it, links and all; the package's file not.
    if (!DeployPlatform::CopyFileTo(checker, Join(keep, u"InstallerCheck.exe"), false) ||
        !DeployPlatform::CopyFileTo(inf, Join(keep, BaseName(inf)), true)) {
        return KeepResult::CopyFailed;
    }
    // The catalogs beside the INF go along: the check counts a staged package as this one only
    // when the catalog the system keeps with it is the package's, read beside the INF it is given.
    const size_t slash = inf.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? u"." : inf.substr(0, slash);
    for (const DeployPlatform::Entry& entry : DeployPlatform::ListFolder(folder)) {
        if (!entry.folder && IsCatalogName(entry.name) &&
            !DeployPlatform::CopyFileTo(Join(folder, entry.name), Join(keep, entry.name), false)) {
            return KeepResult::CopyFailed;
        }
    }
    return KeepResult::Ready;
}

namespace {

// Each refusal's message after "Deploy: ", with {} where the quoted /keep folder stands.
const char* RefusalText(KeepResult result) {
    switch (result) {
    case KeepResult::Link:
        return "{} is a junction or symbolic link, not a folder; nothing was copied or run.";
    case KeepResult::NotFolder:
        return "{} is a file, not a folder; nothing was copied or run.";
    case KeepResult::HoldsInf:
        return "the INF is in the /keep folder {}, which Deploy empties and makes anew; give the "
               "INF from another folder. Nothing was copied or installed.";
    case KeepResult::HasFolders:
        return "{} holds folders; /keep needs a folder of its own, which Deploy empties. Nothing "
               "was copied or run.";
    case KeepResult::NotCleared:
        return "could not empty {} of files Deploy did not put there; nothing was copied or run.";
    case KeepResult::NotMade:
        return "could not make the folder {} anew; nothing was copied or run.";
    case KeepResult::NotSecured:
        return "could not give {} to Administrators with access for SYSTEM, Administrators and "
               "Users (read) only; nothing was copied or run.";
    case KeepResult::CopyFailed:
        return "could not copy InstallerCheck.exe and the INF into {}; nothing was run.";
    case KeepResult::Ready:
        break;
    }
    return nullptr;
}

} // namespace

std::string KeepRefusal(KeepResult result, const std::u16string& keep) {
    const char* text = RefusalText(result);
    if (text == nullptr) {
        return {};
    }
    const std::string_view words(text);
    const size_t place = words.find("{}");
    std::string message = "Deploy: ";
    message += words.substr(0, place);
    message += '"';
    message += Utf8(keep);
    message += '"';
    message += words.substr(place + 2);
    return message;
}

void KeepTraceLogs(const std::u16string& programs, const std::u16string& keep) {
    for (const DeployPlatform::Entry& entry : DeployPlatform::ListFolder(programs)) {
        if (!entry.folder && IsLogName(entry.name)) {
            DeployPlatform::CopyFileTo(Join(programs, entry.name), Join(keep, entry.name), false);
        }
    }
}

UnkeepResult ClearKeep(const std::u16string& keep, const std::u16string& infName) {
    switch (DeployPlatform::KindOf(keep, false)) {
    case PathKind::Missing:
        return UnkeepResult::Missing;
    case PathKind::Link:
        return UnkeepResult::Link;
    case PathKind::Folder:
        break;
    default:
        return UnkeepResult::Left;
    }
    {
        const DeployPlatform::FolderHold hold(keep);
        if (!hold.held()) {
            return UnkeepResult::Left;
        }
        for (const DeployPlatform::Entry& entry : DeployPlatform::ListFolder(keep)) {
            if (!entry.folder &&
                (SamePath(entry.name, u"InstallerCheck.exe") || SamePath(entry.name, infName) ||
                 IsCatalogName(entry.name) || IsLogName(entry.name))) {
                DeployPlatform::DeleteName(Join(keep, entry.name));
            }
        }
    }
    return DeployPlatform::RemoveFolder(keep) ? UnkeepResult::Gone : UnkeepResult::Left;
}
