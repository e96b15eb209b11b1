#include "campaign/campaignfront.h"

#include <memory>
#include <optional>
#include <vector>

#include "cli/clisession.h"
#include "common/text.h"
#include "common/uisync.h"
#include "device/connection.h"
#include "device/controller.h"
#include "device/decideupdate.h"
#include "firmware/hexfile.h"
#include "firmware/selection.h"
#include "reflash/reflashview.h"
#include "reflash/servicereflash.h"
#include "reflash/updatethread.h"
#include "serial/link.h"

namespace tarvik::campaign {
namespace {

// The user's wish to get out, asked until it comes and then remembered.
class WishToLeave {
 public:
  WishToLeave(const std::function<bool()>& ask, bool mayStop) : ask_(ask), mayStop_(mayStop) {}
  bool Now() {
    if (!wanted_ && mayStop_ && ask_) wanted_ = ask_();
    return wanted_;
  }

 private:
  const std::function<bool()>& ask_;
  bool mayStop_;
  bool wanted_ = false;
};

// The main window's part in identification: the decision is the campaign's.
class IdentifySteps final : public MainThreadSteps {
 public:
  void PublishIdentity(TController&) override {}
  void ResetFlashState() override {}
  void DecideUpdate(TController& controller) override {
    if (decide) decide(controller);
    decided = true;
  }
  void ReportNoAnswer() override { noAnswer = true; }
  std::function<void(TController&)> decide;
  bool decided = false;
  bool noAnswer = false;
};

// A technician who knows which device is on the bench: the type and the
// image of the plan, where the windows ask.
class TechnicianView final : public DecisionView {
 public:
  TechnicianView(const FirmwareCatalogue& catalogue, int image) : catalogue_(catalogue), image_(image) {}
  int ChooseDeviceType(const std::vector<std::string>&) override {
    return FindDeviceType(catalogue_, catalogue_.FirmwareImages()[static_cast<std::size_t>(image_)]);
  }
  int ChoosePreferredFirmware(const std::string&, const std::vector<ImageChoice>& images, bool) override {
    for (const ImageChoice& choice : images) {
      if (choice.ImageIndex == image_) return image_;
    }
    return -1;
  }
  void ShowInformation(const std::string&) override {}
  void OfferImage(int imageIndex) override { offered = imageIndex; }
  void ReportUnsupported(const std::string&) override {}
  void RequestDisconnect() override {}
  int offered = -1;

 private:
  const FirmwareCatalogue& catalogue_;
  const int image_;
};

// The reflash window as far as the user sees it: its state, the verdict and
// whether the exit button can be pressed.
class WindowView final : public ReflashView {
 public:
  void MarkRunning() override { running = true; }
  void ShowFailure(const ReflashReport&) override {
    if (!running) return;
    failureShown = true;
    exitEnabled = true;
    verdictAfterStop = verdictAfterStop || stopped;
  }
  void ShowStage(ReflashStage) override {}
  void ShowProgress(std::int32_t, std::int32_t) override {}
  void ShowElapsed(const std::string&) override {}
  void ShowRemaining(const std::string&) override {}
  void DisableExit() override { exitEnabled = false; }
  void ShowSuccess(const ReflashReport&) override {
    running = false;
    successShown = true;
    exitEnabled = true;
    verdictAfterStop = verdictAfterStop || stopped;
  }

  bool running = false;
  bool failureShown = false;
  bool successShown = false;
  bool exitEnabled = true;
  bool stopped = false;
  bool verdictAfterStop = false;
};

class ServiceView final : public ServiceReflashView {
 public:
  void ShowProgress(std::int32_t, std::int32_t) override {}
  void ShowError(const std::string&) override {}
};

class CaptureOutput final : public cli::CliOutput {
 public:
  void Write(cli::Stream, std::string_view cp1251) override { text.append(cp1251); }
  bool OutIsTerminal() const override { return false; }
  int Columns() const override { return 0; }
  std::string text;
};

const char* ServiceOutcomeName(ServiceReflashOutcome outcome) {
  switch (outcome) {
    case ServiceReflashOutcome::NotStarted:
      return "not started";
    case ServiceReflashOutcome::NothingToSend:
      return "nothing to send";
    case ServiceReflashOutcome::Settled:
      return "settled";
    case ServiceReflashOutcome::EraseFailed:
      return "erase failed";
    case ServiceReflashOutcome::WriteFailed:
      return "write failed";
    case ServiceReflashOutcome::Error:
      return "error";
    case ServiceReflashOutcome::Stopped:
      return "stopped";
  }
  return "?";
}

FrontResult RunWindow(const FrontRequest& request) {
  FrontResult result;
  UiStepQueue sync;
  // What the main window would show of the connection matters to no verdict.
  DeviceEvents shown;
  TConnection connection({.Events = shown, .Sync = sync, .Time = request.clock});
  try {
    connection.Open(PortNameOf(request.port));
  } catch (const std::exception& e) {
    result.error = std::string("the port did not open: ") + e.what();
    return result;
  }
  result.portOpened = true;
  WishToLeave leave(request.userWantsOut, request.mayStop);

  IdentifySteps identify;
  FirmwareCatalogue catalogue;
  std::optional<CampaignCatalogue> source;
  std::vector<std::string> imageLines = request.plan.imageLines;
  const bool decide = request.decide && request.plan.procedure != Procedure::Service;
  if (decide) {
    source.emplace(request.plan);
    catalogue.LoadCatalogue(source->Source());
    identify.decide = [&](TController& controller) {
      TechnicianView view(catalogue, source->ImageNumber() - 1);
      const DecisionOutcome outcome = tarvik::DecideUpdate(controller.Identity, catalogue, {}, view);
      if (outcome != DecisionOutcome::Offered || view.offered < 0) {
        result.offered = "nothing";
        return;
      }
      imageLines = catalogue.ImageLines()[static_cast<std::size_t>(view.offered)];
      result.offered = imageLines == request.plan.imageLines ? "the image" : "another image";
    };
  }
  connection.StartIdentification(identify);
  sync.WaitServicing([&] {
    return identify.decided || identify.noAnswer || connection.MainThread()->Finished() || leave.Now();
  });
  if (!identify.decided) {
    // The reflash window's exit before its start, or a device that did not
    // answer: nothing is written.
    result.stopMade = leave.Now();
    result.outcome = identify.noAnswer ? "no answer" : "left before the start";
    connection.Close();
    return result;
  }
  result.identified = true;
  if (decide && result.offered != "the image") {
    // The window would offer something else, or nothing: the technician
    // could not reflash the device from here.
    result.outcome = "offered " + result.offered;
    connection.Close();
    return result;
  }
  TController& controller = *connection.Controller();

  std::unique_ptr<ConnectionTask> task;
  WindowView view;
  ServiceView serviceView;
  TUpdateThread* reflash = nullptr;
  TServiceReflash* service = nullptr;
  HexGrid grid;
  if (request.plan.procedure == Procedure::Service) {
    // As the viewer loads the file the user picked.
    HexFileLoad file = LoadHexFile(request.hexPath);
    if (!file.Ok()) {
      result.error = "the HEX file did not load: " + Cp1251ToUtf8(file.Error);
      connection.Close();
      return result;
    }
    grid = std::move(file.Load.Grid);
    auto flash = std::make_unique<TServiceReflash>(
        TServiceReflash::Setup{
            .Controller = controller, .View = serviceView, .Sync = sync, .Time = request.clock},
        &grid);
    service = flash.get();
    task = std::move(flash);
  } else {
    // As the reflash window starts it; a device in its bootloader may not
    // be left half way, so the exit button stays disabled.
    view.exitEnabled = !controller.Identity.InBootloader();
    auto flash = std::make_unique<TUpdateThread>(sync, request.clock);
    flash->SetDevice(controller.Identity);
    flash->SetImageLines(imageLines);
    flash->SetController(&controller);
    flash->SetStartTime(request.clock.WallNow());
    flash->SetView(&view);
    reflash = flash.get();
    task = std::move(flash);
  }
  if (!connection.StartTask(std::move(task))) {
    result.error = "the connection did not take the reflash";
    connection.Close();
    return result;
  }

  // A stop that comes once the service reflash has decided its outcome (its
  // thread still ending) stops nothing: the verdict was there before it.
  bool serviceDecidedAtStop = false;
  sync.WaitServicing([&] {
    if (!connection.TaskRunning()) return true;
    if (result.stopMade || result.stopRefused || !leave.Now()) return false;
    // The service reflash holds the main window; the program's exit ends it.
    if (service != nullptr || view.exitEnabled) {
      result.stopMade = true;
      view.stopped = true;
      serviceDecidedAtStop = service != nullptr && service->Outcome() != ServiceReflashOutcome::NotStarted;
      connection.Task()->Thread().Stop();
    } else {
      result.stopRefused = true;
    }
    return false;
  });
  if (reflash != nullptr) {
    result.successShown = view.successShown;
    result.failureShown = view.failureShown;
    result.verdictAfterStop = view.verdictAfterStop;
    result.outcome = ReflashOutcomeName(reflash->Outcome());
  } else {
    const ServiceReflashOutcome outcome = service->Outcome();
    result.successShown = outcome == ServiceReflashOutcome::Settled;
    result.failureShown = outcome == ServiceReflashOutcome::EraseFailed ||
                          outcome == ServiceReflashOutcome::WriteFailed ||
                          outcome == ServiceReflashOutcome::Error;
    result.verdictAfterStop =
        result.stopMade && !serviceDecidedAtStop && (result.successShown || result.failureShown);
    result.outcome = ServiceOutcomeName(outcome);
  }
  // Leaving the window, or the disconnect the service reflash asks for.
  connection.Close(true);
  return result;
}

FrontResult RunCommandLine(const FrontRequest& request) {
  FrontResult result;
  const CampaignCatalogue catalogue(request.plan);
  CaptureOutput out;
  WishToLeave leave(request.userWantsOut, request.mayStop);
  cli::CliEnvironment env{
      .Out = out,
      .Time = request.clock,
      .Interrupted =
          [&] {
            if (result.stopMade || !leave.Now()) return false;
            result.stopMade = true;
            return true;
          },
      .ListPorts = [] { return std::vector<std::string>{}; },
      .DefaultRules = {},
      .Catalogue = catalogue.Source(),
  };
  std::vector<std::string> args;
  if (request.plan.procedure == Procedure::Service) {
    args = {"flash-hex", request.port, request.hexPath, "--quiet"};
  } else {
    // The promises are the reflash's; the device is not asked afterwards.
    args = {"flash",   request.port, "--no-rules", "--image", std::to_string(catalogue.ImageNumber()),
            "--quiet", "--no-verify"};
  }
  std::optional<cli::DeviceResult> device;
  env.Ended = [&](const cli::DeviceResult& ended) { device = ended; };
  const cli::ExitCode code = cli::RunCli(args, env);
  result.exitCode = cli::ToInt(code);
  result.outcome = "exit " + std::to_string(result.exitCode);
  // A run that stopped before any port (a file it could not read) did not
  // fail at the port.
  result.portOpened = !device || device->portOpened;
  result.identified = code != cli::ExitCode::NoDevice && code != cli::ExitCode::FileError;
  // Written whole, and not checked afterwards (--no-verify, flash-hex).
  result.successShown = code == cli::ExitCode::Done && device && device->outcome == cli::DeviceOutcome::Done;
  result.failureShown = code == cli::ExitCode::Failed;
  result.verdictAfterStop = result.stopMade && (result.successShown || result.failureShown);
  if (!result.portOpened) result.error = "the port did not open: " + Cp1251ToUtf8(out.text);
  return result;
}

}  // namespace

FrontResult RunFront(const FrontRequest& request) {
  return request.plan.front == Front::Window ? RunWindow(request) : RunCommandLine(request);
}

}  // namespace tarvik::campaign
