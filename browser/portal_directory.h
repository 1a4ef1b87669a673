// The two portal families and their per-area base addresses: built-in tables, and the
// lists loaded from the remote documents "fpdk.json" and "etax.json".
#pragma once

#include <mutex>
#include <string>
#include <vector>

enum class PortalFamily { Fpdk, Etax };  // invoice deduction, electronic tax bureau

// One family's addresses, entry i for g_areaList entry i. Loaders build a whole new
// list and swap it in; readers take a copy.
class PortalList {
public:
    std::vector<std::wstring> Snapshot() const;
    void Replace(std::vector<std::wstring> urls);

private:
    mutable std::mutex lock_;
    std::vector<std::wstring> urls_;
};

extern PortalList g_fpdkUrls;
extern PortalList g_etaxUrls;

// The built-in address of a family for area `index` (0 <= index < kAreaCount).
std::wstring BuiltinPortalUrl(PortalFamily family, int index);

// The list a document body gives. Not JSON, or JSON but not an object: the built-in
// table. An object without any area member ("{}"): an empty list. Otherwise one entry
// per area: the document's address where it holds an http or https address for that
// name, else the built-in one. Writes the family's log lines.
std::vector<std::wstring> PortalListFromDocument(PortalFamily family, const std::string& body);

// Fetch the family's document (5 s) and swap in the list it gives.
void LoadFpdkPortals();
void LoadEtaxPortals();

// Opens the family's portal of the area named `area` (system code page) in the
// shell. Returns the area's index, or -1 when the name is no area or the list has no
// entry for it (nothing loaded yet, or a document without areas).
int OpenPortalForArea(PortalFamily family, const std::string& area);
