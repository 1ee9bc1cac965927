#include "Jolvex.h"

#include <QByteArray>
#include <QtGlobal>

#include <exception>
#include <utility>

#include "JlvxSession.h"

namespace {

TJolvexFactory& Factory() {
    static TJolvexFactory factory;
    return factory;
}

int32_t CreateOwnSession(std::shared_ptr<IJLVX>& Session) {
    try {
        Session = std::make_shared<TJlvxSession>();
    } catch (const std::exception&) {
        Session = nullptr;
        return JLVX_E_FAIL;
    }
    return JLVX_S_OK;
}

// Binds the factory at program start and unbinds it at exit, as a unit
// that loads a library would.
struct TJolvexUnit {
    TJolvexUnit() { InitJolvex(); }
    ~TJolvexUnit() { FinalizeJolvex(); }
};
const TJolvexUnit JolvexUnit;

}  // namespace

void InitJolvex() {
    const QByteArray off = qgetenv("VISARA_NO_LOSSLESS_JPEG");
    if (!off.isEmpty() && off != "0")
        Factory() = nullptr;
    else
        Factory() = CreateOwnSession;
}

void FinalizeJolvex() { Factory() = nullptr; }

int32_t CreateJolvexObject(std::shared_ptr<IJLVX>& Session) {
    Session = nullptr;
    const TJolvexFactory factory = Factory();
    if (!factory) return JLVX_E_FAIL;
    return factory(Session);
}

TJolvexFactory SetJolvexFactory(TJolvexFactory NewFactory) {
    return std::exchange(Factory(), std::move(NewFactory));
}
