#include "model/Records.h"

#include "platform/AsciiText.h"

#include <cassert>
#include <utility>
#include <vector>

namespace corvane {

TextField DuplicateString(const TextField& source)
{
    if (!source || source->empty())
        return std::nullopt;
    return source;
}

std::size_t AssignText(TextField& field, const char* bytes, std::size_t length)
{
    field.emplace(bytes, length);
    return length;
}

std::string TrimmedText(const TextField& field)
{
    return field ? std::string(TrimmedAscii(*field)) : std::string();
}

// Destruction takes the owned links out of each node before the node dies, so no destructor
// ever runs inside another: depth and length of the structure cost heap, not stack.
COutlineItem::~COutlineItem()
{
    std::vector<std::unique_ptr<COutlineItem>> pending;
    if (firstChild)
        pending.push_back(std::move(firstChild));
    if (nextSibling)
        pending.push_back(std::move(nextSibling));
    while (!pending.empty()) {
        std::unique_ptr<COutlineItem> node = std::move(pending.back());
        pending.pop_back();
        if (node->firstChild)
            pending.push_back(std::move(node->firstChild));
        if (node->nextSibling)
            pending.push_back(std::move(node->nextSibling));
    }
}

COutlineItem* COutlineItem::LastChild() const
{
    COutlineItem* child = firstChild.get();
    while (child && child->nextSibling)
        child = child->nextSibling.get();
    return child;
}

void COutlineItem::AppendChild(std::unique_ptr<COutlineItem> node, COutlineItem* lastChild)
{
    if (!node)
        return;
    assert(!lastChild || (lastChild->parent == this && !lastChild->nextSibling));
    node->parent = this;
    node->nextSibling.reset();
    COutlineItem* last = lastChild ? lastChild : LastChild();
    if (!last) {
        node->prevSibling = nullptr;
        firstChild = std::move(node);
    } else {
        node->prevSibling = last;
        last->nextSibling = std::move(node);
    }
}

std::unique_ptr<COutlineItem> COutlineItem::RemoveChild(COutlineItem* node)
{
    if (!node || !firstChild)
        return nullptr;
    bool isChild = false;
    for (COutlineItem* child = firstChild.get(); child; child = child->nextSibling.get()) {
        if (child == node) {
            isChild = true;
            break;
        }
    }
    if (!isChild)
        return nullptr;

    std::unique_ptr<COutlineItem> follower = std::move(node->nextSibling);
    std::unique_ptr<COutlineItem> removed;
    if (node->prevSibling) {
        removed = std::move(node->prevSibling->nextSibling);
        if (follower)
            follower->prevSibling = node->prevSibling;
        node->prevSibling->nextSibling = std::move(follower);
    } else {
        removed = std::move(firstChild);
        if (follower)
            follower->prevSibling = nullptr;
        firstChild = std::move(follower);
    }
    removed->prevSibling = nullptr;
    return removed;
}

int COutlineItem::InsertAfter(std::unique_ptr<COutlineItem>& node, COutlineItem* after)
{
    if (!node || !after || after->parent != this)
        return 0;
    bool isChild = false;
    for (COutlineItem* child = firstChild.get(); child; child = child->nextSibling.get()) {
        if (child == after) {
            isChild = true;
            break;
        }
    }
    if (!isChild)
        return 0;

    COutlineItem* inserted = node.get();
    inserted->nextSibling = std::move(after->nextSibling);
    if (inserted->nextSibling)
        inserted->nextSibling->prevSibling = inserted;
    inserted->prevSibling = after;
    inserted->parent = this;
    after->nextSibling = std::move(node);
    return 1;
}

namespace {

std::unique_ptr<COutlineItem> CopyFields(const COutlineItem& source)
{
    auto copy = std::make_unique<COutlineItem>();
    copy->title = DuplicateString(source.title);
    copy->type = DuplicateString(source.type);
    copy->htmlurl = DuplicateString(source.htmlurl);
    copy->xmlurl = DuplicateString(source.xmlurl);
    copy->text = DuplicateString(source.text);
    copy->version = DuplicateString(source.version);
    copy->description = DuplicateString(source.description);
    copy->reserved = 2;
    return copy;
}

} // namespace

std::unique_ptr<COutlineItem> COutlineItem::Clone() const
{
    std::unique_ptr<COutlineItem> rootCopy = CopyFields(*this);
    // Each entry: a source node whose children still have to be copied under its copy. Children
    // are appended through a running "last copied child" so the clone stays linear in size.
    struct Pending {
        const COutlineItem* source;
        COutlineItem* copy;
    };
    std::vector<Pending> pending {{this, rootCopy.get()}};
    while (!pending.empty()) {
        Pending next = pending.back();
        pending.pop_back();
        COutlineItem* lastCopy = nullptr;
        for (const COutlineItem* child = next.source->firstChild.get(); child;
             child = child->nextSibling.get()) {
            std::unique_ptr<COutlineItem> childCopy = CopyFields(*child);
            COutlineItem* raw = childCopy.get();
            raw->parent = next.copy;
            raw->prevSibling = lastCopy;
            if (lastCopy)
                lastCopy->nextSibling = std::move(childCopy);
            else
                next.copy->firstChild = std::move(childCopy);
            lastCopy = raw;
            if (child->firstChild)
                pending.push_back({child, raw});
        }
    }
    return rootCopy;
}

CFeedItem::~CFeedItem()
{
    std::unique_ptr<CFeedItem> rest = std::move(nextItem);
    while (rest)
        rest = std::move(rest->nextItem);
}

CFeedChannel::~CFeedChannel()
{
    std::unique_ptr<CFeedItem> rest = std::move(firstItem);
    while (rest)
        rest = std::move(rest->nextItem);
}

void CFeedChannel::AppendItem(std::unique_ptr<CFeedItem> item, CFeedItem* lastItem)
{
    if (!item)
        return;
    assert(!lastItem || (firstItem && !lastItem->nextItem));
    item->nextItem.reset();
    if (!lastItem && firstItem) {
        lastItem = firstItem.get();
        while (lastItem->nextItem)
            lastItem = lastItem->nextItem.get();
    }
    if (!firstItem) {
        item->prevItem = nullptr;
        firstItem = std::move(item);
    } else {
        item->prevItem = lastItem;
        lastItem->nextItem = std::move(item);
    }
}

std::size_t CFeedChannel::ItemCount() const
{
    std::size_t count = 0;
    for (const CFeedItem* item = firstItem.get(); item; item = item->nextItem.get())
        ++count;
    return count;
}

} // namespace corvane
