#include "sync/SafeNames.h"

#include <QStringList>

namespace corvane {

namespace {

bool IsForbidden(QChar character)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    return character.unicode() < 0x20 || character.unicode() == 0x7f
        || forbidden.contains(character);
}

QString Trimmed(QString text)
{
    text = text.trimmed();
    while (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

// The first units of text, a surrogate pair kept whole.
QString CutToUnits(const QString& text, int units)
{
    if (text.size() <= units)
        return text;
    if (units > 0 && text.at(units - 1).isHighSurrogate())
        --units;
    return text.left(units);
}

bool IsDeviceName(const QString& stem)
{
    static const QStringList names = {
        QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"), QStringLiteral("NUL")};
    const QString upper = stem.section(QLatin1Char('.'), 0, 0).toUpper();
    if (names.contains(upper))
        return true;
    return upper.size() == 4
        && (upper.startsWith(QLatin1String("COM")) || upper.startsWith(QLatin1String("LPT")))
        && upper.at(3) >= QLatin1Char('1') && upper.at(3) <= QLatin1Char('9');
}

QString SafeStem(const QString& text, int maxUnits)
{
    QString cleaned;
    cleaned.reserve(text.size());
    for (const QChar character : text)
        cleaned += character.isSpace() ? QLatin1Char(' ')
            : IsForbidden(character)   ? QLatin1Char('_')
                                       : character;
    QString stem = Trimmed(CutToUnits(Trimmed(cleaned.simplified()), maxUnits));
    if (stem.isEmpty())
        stem = QStringLiteral("Untitled");
    if (IsDeviceName(stem))
        stem = CutToUnits(stem, maxUnits - 1) + QLatin1Char('_');
    return stem;
}

} // namespace

QString SafeName(const QString& text, const QString& extension, int maxUnits)
{
    return SafeStem(text, maxUnits - static_cast<int>(extension.size())) + extension;
}

void NameClaims::Take(const QString& name)
{
    taken.insert(name.toCaseFolded());
}

bool NameClaims::IsTaken(const QString& name) const
{
    return taken.contains(name.toCaseFolded());
}

QString NameClaims::Claim(const QString& stem, const QString& extension, int maxUnits)
{
    QString name = SafeName(stem, extension, maxUnits);
    for (int number = 2; IsTaken(name); ++number) {
        const QString suffix = QStringLiteral(" (%1)").arg(number) + extension;
        name = SafeStem(stem, maxUnits - static_cast<int>(suffix.size())) + suffix;
    }
    Take(name);
    return name;
}

} // namespace corvane
