#include "ui/quorvane_view.h"

#include <QVBoxLayout>

#include "ui/engine_control.h"
#include "ui/host_list_model.h"
#include "ui/nbt_list_ctrl.h"

namespace quorvane {

CQuorvaneView::CQuorvaneView(HostTable& table, const AppSettings& settings, EngineControl& engine,
                             QtMessageTarget& hostViewTarget, HostView::WallClock clock, QWidget* parent)
    : QWidget(parent), hostViewTarget_(hostViewTarget) {
    setObjectName(QStringLiteral("hostView"));
    model_ = std::make_unique<HostListModel>(table, settings);
    list_ = new CNBTListCtrl(*model_, table, engine, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);

    hostView_ = std::make_unique<HostView>(table, settings, *model_, forward_, engine.serviceStopped(),
                                           std::move(clock));
    hostViewTarget_.SetHandler([this](const EngineMessage& m) { return hostView_->Handle(m); });
    // While a table edit waits for the engine threads, the sender's messages are still answered.
    list_->SetPump([this] { hostViewTarget_.ProcessPendingSends(); });
    showHostTarget_.SetHandler([this](const EngineMessage& m) -> int64_t {
        if (m.message == WM_SHOWHOST) list_->ShowHost(static_cast<int>(m.wParam));
        return 0;
    });
    table.BuildRows(*model_);
}

CQuorvaneView::~CQuorvaneView() {
    // Messages that arrive from now on find no view.
    hostViewTarget_.SetHandler({});
    delete list_;
    list_ = nullptr;
}

}  // namespace quorvane
