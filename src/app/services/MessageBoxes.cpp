// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/MessageBoxes.h"

#include "shell/SplashWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace lumivox::ui {

namespace {
const QString kTitle = QStringLiteral("Lumivox");

// The start-up picture stays above every window: a message at start (no recorder, a
// project that cannot be opened) would be hidden under it, so it goes first.
void CloseSplash()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* splash = qobject_cast<SplashWindow*>(window); splash && splash->isVisible())
            splash->close();
}
} // namespace

MessageParts SplitDriveDetails(const QString& text)
{
    // The sense as the recorder words it, with what leads into it: ": " before it, or the
    // brackets around it.
    static const QRegularExpression sense(QStringLiteral(
        R"((\s*:\s*|\s*\(\s*)?((?:deferred )?sense [0-9A-F]{2}/[0-9A-F]{2}/[0-9A-F]{2}(?: \([^()]*\))?)(\))?)"));
    MessageParts parts;
    QStringList answers;
    QString headline = text;
    for (QRegularExpressionMatch match = sense.match(headline); match.hasMatch(); match = sense.match(headline)) {
        answers << match.captured(2);
        const QString lead = match.captured(1).trimmed();
        const bool bracketed = lead == QLatin1String("(") && !match.captured(3).isEmpty();
        const qsizetype end = match.capturedEnd(bracketed ? 3 : 2);
        const bool more = !headline.mid(end).trimmed().isEmpty();
        // "Failed: sense ... The disc ..." reads "Failed. The disc ..."; a bracketed answer goes without a trace.
        QString replacement = bracketed                            ? QString()
                              : lead == QLatin1String(":") && more ? QStringLiteral(".")
                                                                   : QString();
        headline.replace(match.capturedStart(0), end - match.capturedStart(0), replacement);
    }
    static const QRegularExpression spaces(QStringLiteral("[ ]{2,}"));
    parts.headline =
        headline.replace(spaces, QStringLiteral(" ")).replace(QStringLiteral(" ."), QStringLiteral(".")).trimmed();
    if (!answers.isEmpty()) {
        if (!parts.headline.isEmpty() && !parts.headline.endsWith(QLatin1Char('.')))
            parts.headline += QLatin1Char('.');
        parts.details = QObject::tr("The drive answered: %1").arg(answers.join(QStringLiteral("; ")));
    } else {
        parts.headline = text; // nothing taken out: the text stays as written, line breaks and all
    }
    return parts;
}

namespace {
void Show(QWidget* parent, QMessageBox::Icon icon, const QString& text)
{
    CloseSplash();
    const MessageParts parts = SplitDriveDetails(text);
    QMessageBox box(icon, kTitle, parts.headline, QMessageBox::Ok, parent);
    box.setDetailedText(parts.details);
    box.exec();
}
} // namespace

void QtMessageBoxes::Information(QWidget* parent, const QString& text)
{
    Show(parent, QMessageBox::Information, text);
}

void QtMessageBoxes::Warning(QWidget* parent, const QString& text)
{
    Show(parent, QMessageBox::Warning, text);
}

bool QtMessageBoxes::Question(QWidget* parent, const QString& text)
{
    CloseSplash();
    return QMessageBox::question(parent, kTitle, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

SaveChoice QtMessageBoxes::AskSaveChanges(QWidget* parent, const QString& text)
{
    CloseSplash();
    QMessageBox box(QMessageBox::Warning, kTitle, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    parent);
    box.setDefaultButton(QMessageBox::Save);
    box.setInformativeText(QObject::tr("Your changes will be lost if you don't save them."));
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::Discard;
    default:
        return SaveChoice::Cancel;
    }
}

ChangedChoice QtMessageBoxes::AskChangedOnDisk(QWidget* parent, const QString& text)
{
    CloseSplash();
    QMessageBox box(QMessageBox::Warning, kTitle, text, QMessageBox::NoButton, parent);
    QPushButton* reload = box.addButton(QObject::tr("&Reload"), QMessageBox::DestructiveRole);
    QPushButton* overwrite = box.addButton(QObject::tr("&Overwrite"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setInformativeText(QObject::tr("Reload drops your changes; Overwrite replaces the other program's."));
    box.exec();
    if (box.clickedButton() == reload)
        return ChangedChoice::Reload;
    if (box.clickedButton() == overwrite)
        return ChangedChoice::Overwrite;
    return ChangedChoice::Cancel;
}

} // namespace lumivox::ui
