#pragma once
// The details pane, the lower right pane: read-only rich text in a fixed-pitch font, written
// by appending coloured text at the end.

#include <QColor>
#include <QTextEdit>

#include <string_view>

namespace quorvane {

class DetailsPane final : public QTextEdit {
public:
    explicit DetailsPane(QWidget* parent = nullptr);

    void ClearDetails();
    // The colour of the text appended next.
    void SetDetailsColour(const QColor& colour);
    // Appends at the very end, whatever the user selected, recording no undo step.
    void AppendDetails(const QString& text);
    // Bytes as the host records keep them (each byte one character).
    void AppendDetails(std::string_view bytes);

private:
    QColor colour_ = Qt::black;
};

}  // namespace quorvane
