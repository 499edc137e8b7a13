#include "ui/details_pane.h"

#include <QFontDatabase>
#include <QTextCharFormat>
#include <QTextCursor>

#include "ui/text.h"

namespace quorvane {

DetailsPane::DetailsPane(QWidget* parent) : QTextEdit(parent) {
    setObjectName(QStringLiteral("detailsPane"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setAcceptRichText(false);
    setLineWrapMode(QTextEdit::NoWrap);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setFont(font);
}

void DetailsPane::ClearDetails() { clear(); }

void DetailsPane::SetDetailsColour(const QColor& colour) { colour_ = colour; }

void DetailsPane::AppendDetails(const QString& text) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(colour_);
    cursor.insertText(text, format);
}

void DetailsPane::AppendDetails(std::string_view bytes) { AppendDetails(Latin1Text(bytes)); }

}  // namespace quorvane
