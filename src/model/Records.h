// Records that carry all feed and subscription data through Corvane.
//
// COutlineItem  one node of the subscription tree (a group, or a feed when it has an xmlurl);
//               also what an OPML outline element reads into and writes from.
// COutlineHead  the head section of an OPML document.
// CFeedChannel  one RSS document as read by the RSS reader, with its items.
// CFeedItem     one RSS item, including its podcast enclosure.
//
// Strings hold UTF-8 and keep "absent" (std::nullopt: the element or attribute did not occur)
// apart from "empty" (it occurred without text). Links named first/next are owning
// (std::unique_ptr); prev/parent links are plain pointers and never own.
//
// Destroying a node destroys its whole subtree and every node that follows it under the same
// parent; destroying an item destroys the rest of its list. Destruction, cloning and every walk
// here are iterative, so a list of millions of items or a tree 100,000 levels deep cannot
// overflow the stack.
//
// Thread: a record is used by one thread at a time; nothing here locks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace corvane {

// A string field of a record: absent, empty or holding UTF-8 bytes.
using TextField = std::optional<std::string>;

// A new heap copy of source, or absent when source is absent or empty (the rule of Clone).
TextField DuplicateString(const TextField& source);

// Stores the given bytes in field (replacing what it held) and returns their count. Length 0
// makes the field an empty string, not an absent one.
std::size_t AssignText(TextField& field, const char* bytes, std::size_t length);

// The field's text without the ASCII white space around it; empty when the field is absent.
std::string TrimmedText(const TextField& field);

class COutlineHead {
public:
    virtual ~COutlineHead() = default;

    TextField title;
    TextField datecreated;
    TextField datemodified;
    TextField ownername;
    TextField owneremail;
};

class COutlineItem {
public:
    COutlineItem() = default;
    virtual ~COutlineItem();
    COutlineItem(const COutlineItem&) = delete;
    COutlineItem& operator=(const COutlineItem&) = delete;

    TextField title;
    TextField type;
    TextField htmlurl;
    TextField xmlurl;
    TextField text;
    TextField version;
    TextField description;

    std::unique_ptr<COutlineItem> firstChild; // owning
    std::unique_ptr<COutlineItem> nextSibling; // owning
    COutlineItem* prevSibling = nullptr; // not owning
    COutlineItem* parent = nullptr; // not owning; null for the root
    std::int32_t reserved = 2; // kept for layout fidelity; nothing reads it

    // A node with an xmlurl is a feed; one without is a group.
    bool IsFeed() const { return xmlurl.has_value(); }
    bool HasChildren() const { return firstChild != nullptr; }
    COutlineItem* LastChild() const;

    // Links node as the last child of this node; its own children stay with it. Null: no-op.
    // A reader that appends many children passes the current last child as lastChild (or null
    // to have it found by walking), which keeps reading a long list linear.
    void AppendChild(std::unique_ptr<COutlineItem> node, COutlineItem* lastChild = nullptr);

    // Unlinks node from this node's children and hands it back (its parent link is left as it
    // was, its sibling links are cleared). Returns null, changing nothing, when node is null or
    // not a child of this node.
    std::unique_ptr<COutlineItem> RemoveChild(COutlineItem* node);

    // Links node directly behind after, which must be a child of this node. Returns 1 and takes
    // node; returns 0 and leaves node with the caller when either is null or after is not a child.
    int InsertAfter(std::unique_ptr<COutlineItem>& node, COutlineItem* after);

    // A deep copy of this node and its children (not its siblings): strings copied with
    // DuplicateString, so empty strings become absent; no parent or sibling links.
    std::unique_ptr<COutlineItem> Clone() const;
};

// The one walk over a subscription tree: visits root and every node below it in display order
// (pre-order: a node before its children, children first to last), with each node's depth (0 for
// root, 1 for its children). Node is COutlineItem or const COutlineItem; null root visits nothing.
// visit(Node*, int depth) returns void, or bool where false ends the walk at once. Iterative: the
// walk climbs back through parent links, so a tree 100,000 levels deep is fine; visit may change
// a node's fields but must not relink or free nodes.
template <class Node, class Visit> void ForEachNode(Node* root, Visit visit)
{
    Node* current = root;
    int depth = 0;
    while (current) {
        if constexpr (std::is_same_v<std::invoke_result_t<Visit&, Node*, int>, bool>) {
            if (!visit(current, depth))
                return;
        } else {
            visit(current, depth);
        }
        if (current->firstChild) {
            current = current->firstChild.get();
            ++depth;
            continue;
        }
        while (current != root && !current->nextSibling) {
            current = current->parent;
            --depth;
        }
        if (current == root)
            return;
        current = current->nextSibling.get();
    }
}

class CFeedItem {
public:
    CFeedItem() = default;
    virtual ~CFeedItem();
    CFeedItem(const CFeedItem&) = delete;
    CFeedItem& operator=(const CFeedItem&) = delete;

    TextField title;
    TextField link;
    TextField description;
    TextField author;
    TextField category;
    TextField comments;
    TextField enclosure; // the enclosure element's text content, as a rule empty
    TextField guid;
    TextField pubDate;
    TextField source;
    TextField enclosureUrl;
    TextField enclosureType;
    TextField enclosureLength;

    std::unique_ptr<CFeedItem> nextItem; // owning
    CFeedItem* prevItem = nullptr; // not owning
};

class CFeedChannel {
public:
    CFeedChannel() = default;
    virtual ~CFeedChannel();
    CFeedChannel(const CFeedChannel&) = delete;
    CFeedChannel& operator=(const CFeedChannel&) = delete;

    TextField title;
    TextField link;
    TextField description;
    TextField language;
    TextField copyright;
    TextField managingEditor;
    TextField webMaster;
    TextField pubDate;
    TextField lastBuildDate;
    TextField category;
    TextField generator;
    TextField docs;
    TextField ttl;
    TextField rating;
    TextField skipHours;
    TextField skipDays;

    std::unique_ptr<CFeedItem> firstItem; // owning

    // Links item as the last item of the list. Null: no-op. A reader that appends many items
    // passes the current last item as lastItem (or null to have it found by walking).
    void AppendItem(std::unique_ptr<CFeedItem> item, CFeedItem* lastItem = nullptr);
    std::size_t ItemCount() const;
};

} // namespace corvane
