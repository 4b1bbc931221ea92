#include "ui/Prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QRegularExpression>

namespace corvane {

int ExecModal(QDialog& dialog)
{
    // Set before the dialog is first mapped; exec() keeps a modality chosen beforehand.
    if (dialog.parentWidget())
        dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

QString Capitalized(const QString& text)
{
    QString result = text;
    bool paragraphStart = true;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        if (c == QLatin1Char('\n') && i + 1 < result.size() && result.at(i + 1) == c)
            paragraphStart = true;
        else if (paragraphStart && c.isLetter()) {
            result[i] = c.toUpper();
            paragraphStart = false;
        } else if (paragraphStart && !c.isSpace())
            paragraphStart = false; // a paragraph that opens with a path or number stays so
    }
    return result;
}

namespace {
CPrompts* installed = nullptr;

QString AskForFile(QWidget* parent, const QString& filter, const QString& defaultSuffix,
    QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(
        mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}
// The extension of a filter entry's first pattern: "xml" for "OPML Files (*.xml)".
QString SuffixOfFilter(const QString& entry)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const QRegularExpressionMatch match = pattern.match(entry);
    return match.hasMatch() ? match.captured(1) : QString();
}
} // namespace

void CPrompts::Message(
    QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    ExecModal(box);
}

QString CPrompts::OpenFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix)
{
    return AskForFile(parent, filter, defaultSuffix, QFileDialog::AcceptOpen);
}

QString CPrompts::SaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix)
{
    return AskForFile(parent, filter, defaultSuffix, QFileDialog::AcceptSave);
}

QString CPrompts::SaveFileNameAndFilter(
    QWidget* parent, const QString& filter, const QString& defaultSuffix, QString& chosenFilter)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& entry) {
            const QString suffix = SuffixOfFilter(entry);
            if (!suffix.isEmpty())
                dialog.setDefaultSuffix(suffix);
        });
    if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    chosenFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().first();
}

int CPrompts::RunDialog(QDialog& dialog)
{
    return ExecModal(dialog) == QDialog::Accepted ? 1 : 2;
}

CPrompts& Prompts()
{
    static CPrompts standard;
    return installed ? *installed : standard;
}

CPrompts* SetPrompts(CPrompts* replacement)
{
    CPrompts* previous = installed;
    installed = replacement;
    return previous;
}

} // namespace corvane
