#include "ui/event_view.h"

#include <QVBoxLayout>

#include "ui/event_list_ctrl.h"
#include "ui/event_list_model.h"

namespace quorvane {

CEventView::CEventView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("eventView"));
    model_ = std::make_unique<EventListModel>();
    list_ = new CEventListCtrl(*model_, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    showEventsTarget_.SetHandler([this](const EngineMessage& m) -> int64_t {
        if (m.message == WM_SHOWHOSTEVENTS) list_->ShowHostEvents(m.host, static_cast<int>(m.lParam));
        return 0;
    });
}

CEventView::~CEventView() {
    delete list_;
    list_ = nullptr;
}

void CEventView::AddEvent(const MonitorEvent& event) {
    if (!model_->Insert(event)) return;
    if (dispatch_) dispatch_(event);
}

}  // namespace quorvane
