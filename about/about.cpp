#include "about/about.h"

namespace tempikon::about {

namespace {
const char* const kFace = "Comic Sans MS";
constexpr double kTextPoints = 9.75;

// Client area 5790 x 2175; the logo (85 x 130 px) on the left, the texts in
// a column beside it.
constexpr int kTextLeft = 1500;
constexpr int kTextRight = 5670;
constexpr int kLinkLeft = 2790;
}  // namespace

std::string RevisionLine(const platform::Version& version) {
    return "Rev " + std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.revision);
}

About::About(platform::Platform& platform) : platform_(platform) {
    platform::WindowSpec spec;
    spec.caption = "About Tempikon";
    spec.clientWidthTwips = 5790;
    spec.clientHeightTwips = 2175;
    spec.dialog = true;
    window_ = platform_.createWindow(spec);

    window_->addPicture({105, 112, 1275, 1950}, "logo");
    Label2_ = &window_->addLabel({kTextLeft, 105, kTextRight - kTextLeft, 405}, "",
                                 {kFace, 14.25, false});
    Label11_ = &window_->addLabel({4590, 510, kTextRight - 4590, 240}, "Rev");
    Label1_ = &window_->addLabel({kTextLeft, 780, kTextRight - kTextLeft, 285}, kNotice,
                                 {kFace, kTextPoints, true});
    Label3_ = &window_->addLabel({kTextLeft, 1110, kTextRight - kTextLeft, 285},
                                 "This is freeware.", {kFace, kTextPoints, false});
    Label4_ = &window_->addLabel({kTextLeft, 1440, kLinkLeft - kTextLeft, 285}, "Visit us at",
                                 {kFace, kTextPoints, false});
    Label9_ = &window_->addLabel({kLinkLeft, 1440, kTextRight - kLinkLeft, 285}, kWebAddress,
                                 {kFace, kTextPoints, false});
    Label5_ = &window_->addLabel({kTextLeft, 1770, kLinkLeft - kTextLeft, 285}, "Send mail to",
                                 {kFace, kTextPoints, false});
    Label10_ = &window_->addLabel({kLinkLeft, 1770, kTextRight - kLinkLeft, 285}, kMailAddress,
                                  {kFace, kTextPoints, false});

    Label2_->setTextColour(0x000000FFu);

    Label9_->onMouseMove = [this] { Label9_MouseMove(); };
    Label10_->onMouseMove = [this] { Label10_MouseMove(); };
    Label4_->onMouseMove = [this] { Label4_MouseMove(); };
    Label5_->onMouseMove = [this] { Label5_MouseMove(); };
    window_->onMouseMove = [this] { Form_MouseMove(); };
    Label9_->onClick = [this] { Label9_Click(); };
    Label10_->onClick = [this] { Label10_Click(); };
    window_->onClosed = [this] {
        if (onClosed) onClosed();
    };

    // Filled at creation.
    Label2_->setText("Tempikon 1.2");
    Label11_->setText(RevisionLine(platform_.version()));
}

About::~About() = default;

void About::Show() {
    window_->showModal();
}

bool About::isShown() const {
    return window_->isVisible();
}

void About::Close() {
    window_->close();
}

void About::setLinkColours(platform::Colour web, platform::Colour mail) {
    Label9_->setTextColour(web);
    Label10_->setTextColour(mail);
}

void About::Label9_MouseMove() {
    setLinkColours(kLinkHoverColour, kLinkColour);
}

void About::Label10_MouseMove() {
    setLinkColours(kLinkColour, kLinkHoverColour);
}

void About::Label4_MouseMove() {
    setLinkColours(kLinkColour, kLinkColour);
}

void About::Label5_MouseMove() {
    setLinkColours(kLinkColour, kLinkColour);
}

void About::Form_MouseMove() {
    setLinkColours(kLinkColour, kLinkColour);
}

void About::Label9_Click() {
    platform_.openAddress(kWebAddress, window_->handle());
}

void About::Label10_Click() {
    platform_.openAddress(std::string("mailto:") + kMailAddress, window_->handle());
}

}  // namespace tempikon::about
