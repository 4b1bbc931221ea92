#include "ui/Resources.h"

#include <QPainter>
#include <QSvgRenderer>

namespace corvane {

namespace {

struct PictureEntry {
    int number;
    const char* path;
    QSize naturalSize;
};

constexpr PictureEntry kIcons[] = {
    {128, ":/icons/program.svg", {64, 64}},
    {145, ":/icons/busy.svg", {64, 64}},
    {144, ":/icons/folder-closed.svg", {16, 16}},
    {134, ":/icons/folder-open.svg", {16, 16}},
    {135, ":/icons/page.svg", {16, 16}},
    {141, ":/icons/check-checked.svg", {16, 16}},
    {142, ":/icons/check-empty.svg", {16, 16}},
    {143, ":/icons/check-mixed.svg", {16, 16}},
};

constexpr PictureEntry kPictures[] = {
    {162, ":/bitmaps/splash.svg", {225, 277}},
    {163, ":/bitmaps/about-side.svg", {74, 156}},
    {164, ":/bitmaps/warning-side.svg", {93, 109}},
    {166, ":/bitmaps/group-banner.svg", {250, 44}},
    {169, ":/bitmaps/channel-side.svg", {84, 192}},
};

template <std::size_t N> const PictureEntry* Find(const PictureEntry (&table)[N], int number)
{
    for (const PictureEntry& entry : table) {
        if (entry.number == number)
            return &entry;
    }
    return nullptr;
}

QPixmap Render(const char* path, QSize size)
{
    QSvgRenderer renderer {QString::fromLatin1(path)};
    if (!renderer.isValid() || size.isEmpty())
        return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

} // namespace

QIcon ResourceIcon(int number)
{
    const PictureEntry* entry = Find(kIcons, number);
    if (!entry)
        return {};
    QIcon icon;
    // Small sizes are rendered one by one so the 16-pixel tree icons stay crisp.
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        if (entry->naturalSize.width() <= 16 && side > 32)
            break;
        icon.addPixmap(Render(entry->path, QSize(side, side)));
    }
    return icon;
}

QPixmap ResourcePicture(int number, QSize size)
{
    const PictureEntry* entry = Find(kPictures, number);
    if (!entry)
        entry = Find(kIcons, number);
    if (!entry)
        return {};
    return Render(entry->path, size.isEmpty() ? entry->naturalSize : size);
}

QString ResourceString(int number)
{
    if (number == 128)
        return QStringLiteral("Corvane\n\nCorvane\n\n\nCorvane.Document\nCorvane.Document");
    return {};
}

QString ApplicationTitle()
{
    return ResourceString(128).section(QLatin1Char('\n'), 0, 0);
}

} // namespace corvane
