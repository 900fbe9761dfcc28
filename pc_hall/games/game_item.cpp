#include "game_item.h"

#include <shellapi.h>

#include <algorithm>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/settings.h"
#include "common/text.h"
#include "containers/container_binding.h"
#include "emulator/emulator_mgr.h"
#include "emulator/emulator_paths.h"
#include "game_hall.h"
#include "game_info_cache.h"
#include "engine_requests.h"
#include "game_paths.h"
#include "housekeeping.h"
#include "size_text.h"

namespace ostrelle {
namespace {

// How long Close waits for the engine's last reports before giving up.
constexpr DWORD kCloseWaitMs = 30000;
// Restore runs again inside the transitions it starts; deeper nesting than
// this can only be a cycle.
constexpr int kMaxRestoreDepth = 4;

zv::UniqueVariant TextVariant(const std::wstring& text) {
  zv::UniqueVariant value;
  value->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (value->bstrVal) value->vt = VT_BSTR;
  return value;
}

HRESULT PutText(IDispatchEx* object, const wchar_t* name, const std::wstring& text) {
  zv::UniqueVariant value = TextVariant(text);
  RETURN_HR_IF(E_OUTOFMEMORY, value->vt != VT_BSTR);
  return zv::PutProperty(object, name, *value.get());
}

template <typename Assign>
HRESULT PutNumber(IDispatchEx* object, const wchar_t* name, VARTYPE type, Assign&& assign) {
  VARIANT value;
  ::VariantInit(&value);
  value.vt = type;
  assign(&value);
  return zv::PutProperty(object, name, value);
}

HRESULT PutI4(IDispatchEx* object, const wchar_t* name, LONG number) {
  return PutNumber(object, name, VT_I4, [number](VARIANT* v) { v->lVal = number; });
}

HRESULT PutYesNo(IDispatchEx* object, const wchar_t* name, bool yes) {
  return PutNumber(object, name, VT_I2, [yes](VARIANT* v) { v->iVal = yes ? -1 : 0; });
}

zv::UniqueVariant NumberVariant(LONG number) {
  zv::UniqueVariant value;
  value->vt = VT_I4;
  value->lVal = number;
  return value;
}

HRESULT PutUI4(IDispatchEx* object, const wchar_t* name, ULONG number) {
  return PutNumber(object, name, VT_UI4, [number](VARIANT* v) { v->ulVal = number; });
}

zv::UniqueVariant DispatchVariant(const zv::ComPtr<IDispatchEx>& object) {
  zv::UniqueVariant value;
  if (object && SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&value->pdispVal)))) {
    value->vt = VT_DISPATCH;
  }
  return value;
}

}  // namespace

// Holds the item's lock; the outermost scope runs the queued events and
// cancellations after letting the lock go.
class CGameItem::Scope {
 public:
  explicit Scope(CGameItem& item) : item_(item) {
    item_.lock_.lock();
    ++item_.lockDepth_;
  }
  ~Scope() {
    std::vector<std::function<void()>> queued;
    if (--item_.lockDepth_ == 0) queued.swap(item_.queued_);
    item_.lock_.unlock();
    for (auto& step : queued) {
      zv::GuardBoundary([&step]() -> HRESULT {
        step();
        return S_OK;
      });
    }
  }
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  CGameItem& item_;
};

CGameItem::CGameItem() = default;

CGameItem::~CGameItem() { Close(); }

void CGameItem::Init(GameHall* hall, const std::wstring& gameId, int hallId, int target) {
  Scope scope(*this);
  hall_ = hall;
  gameId_ = gameId;
  hallId_ = hallId;
  target_ = target;
  state_ = kNotStarted;
  const std::wstring productFolder = hall_ ? hall_->ProductFolder() : zv::ProductFolder();
  configPath_ = ConfigIniPath(productFolder, gameId_);
  config_ = GameConfig(configPath_);
  initializing_ = true;
  Restore();
  initializing_ = false;
}

void CGameItem::RaiseTarget(int target) {
  Scope scope(*this);
  if (closing_ || state_ > target) return;
  target_ = target;
  if (state_ < target_) Advance();
}

void CGameItem::LowerTarget(int target) {
  Scope scope(*this);
  if (closing_) return;
  target_ = std::min(target, state_);
  if (state_ > target_) Regress();
}

void CGameItem::PauseDownload() {
  Scope scope(*this);
  if (closing_ || !downloading_) return;
  DropPartRequests();
  SetDownloading(false);
}

void CGameItem::CancelDownload() {
  DropPartRequests();
  SetDownloading(false);
}

void CGameItem::SetState(int state) {
  if (state == state_) return;
  state_ = state;
  WriteState(L"config", L"state", state_);
  PostStatus();
  if (state_ < target_) {
    Advance();
  } else if (state_ > target_) {
    Regress();
  }
}

void CGameItem::Advance() {
  if (closing_ || state_ >= target_ || state_ < kNoInfo || state_ > kInstalled) return;
  switch (state_) {
    case kNoInfo: {
      zv::ComPtr<IQuiverItem> info;
      if (!CGameInfoCache::Instance().GetGameInfo(gameId_, hallId_, &info)) return;
      info_ = info;
      SetState(kInfoReady);
      if (hall_) hall_->OnGameConfigReady(gameId_, nullptr);
      return;
    }
    case kInfoReady:
    case kDownloading:
      if (!downloading_ && StartDownload()) SetState(kDownloaded);
      return;
    case kDownloaded:
      if (hallId_ == kPcHallId) {
        SetState(kPrepared);
      } else {
        EnsureEmulator();
      }
      return;
    case kPrepared:
      if (hallId_ == kEmulatorHallId) {
        CopyPackage();
        SetState(kInstalled);
        return;
      }
      if (hallId_ != kPcHallId || setupRunning_ || !OnHallThreadOrHandOff()) return;
      if (BeginSetup()) SetState(kInstalled);
      return;
    case kInstalled:
      if (OnHallThreadOrHandOff()) Launch();
      return;
    default:
      return;
  }
}

void CGameItem::Regress() {
  if (closing_ || state_ <= target_) return;
  switch (state_) {
    case kInfoReady:
      SetState(kNoInfo);
      return;
    case kDownloading:
      CancelDownload();
      SetState(kInfoReady);
      return;
    case kDownloaded:
      SetState(kDownloading);
      return;
    case kPrepared:
      // An emulator game has no setup to undo: its package stays in the ROM
      // folder, as the emulator does.
      if (hallId_ != kPcHallId) {
        SetState(kDownloaded);
        return;
      }
      if (!OnHallThreadOrHandOff()) return;
      if (setupRunning_) {
        setup_->Terminate(FALSE);
      } else {
        BeginUninstall();
      }
      SetState(kDownloaded);
      return;
    case kInstalled:
      SetState(kPrepared);
      return;
    default:
      return;
  }
}

void CGameItem::Restore() {
  if (restoreDepth_ >= kMaxRestoreDepth) return;
  ++restoreDepth_;
  config_.Load();
  detailPath_ = config_.ReadString(L"config", L"detail");
  setupPath_ = config_.ReadString(L"config", L"setup");
  startupPath_ = config_.ReadString(L"config", L"startup");
  commandLine_ = config_.ReadString(L"config", L"cmdline");
  downloadProgress_ = config_.ReadInt(L"download", L"progress", 0);

  int state = kNoInfo;
  zv::ComPtr<IQuiverItem> info;
  if (CGameInfoCache::Instance().GetGameInfo(gameId_, hallId_, &info)) {
    ApplyGameInfo(info);
    if (zv::FileExists(startupPath_)) {
      if (hallId_ == kPcHallId) {
        state = kInstalled;
      } else if (hallId_ == kEmulatorHallId) {
        state = RestoreEmulator();
      }
    } else {
      const bool setupPresent = zv::FileExists(setupPath_);
      if (setupPresent && AllPartFilesPresent()) {
        state = kDownloaded;
        target_ = kRunning;
      } else if (setupPresent || (downloadProgress_ >= 0 && downloadProgress_ <= 99)) {
        // A setup file beside missing parts is a download cut short.
        state = zv::FileExists(detailPath_) ? kDownloading : kNoInfo;
      }
    }
  }
  target_ = std::max(target_, state);

  if (config_.ReadInt(L"config", L"state", kNoInfo) > state) {
    // The files no longer back the stored state. The progress is reset on
    // disk too: a stored 100 would otherwise send the game back here on
    // every pass through the information.
    SetDownloading(false);
    downloadProgress_ = 0;
    WriteState(L"download", L"progress", 0);
    state = kNoInfo;
    target_ = kInfoReady;
  }
  SetState(state);
  --restoreDepth_;
}

void CGameItem::ApplyGameInfo(const zv::ComPtr<IQuiverItem>& info) {
  info_ = info;
  detailPath_ = GameXmlPath(hall_ ? hall_->ProductFolder() : zv::ProductFolder(), gameId_);
  WriteConfig(L"detail", detailPath_);
  gameName_ = GameAttribute(info_.get(), gameId_, "name");
  ComputePaths();
  BuildPartsIfEmpty();
}

void CGameItem::ComputePaths() {
  startFile_ = StartFile(info_.get(), gameId_);
  const std::wstring storePath = hall_ ? hall_->StorePath() : std::wstring();
  if (!startFile_.empty()) {
    const std::wstring startup = StartupPath(storePath + L"\\Games", gameName_, startFile_);
    if (!startup.empty()) {
      startupPath_ = startup;
      WriteConfig(L"startup", startupPath_);
    }
  }
  setupPath_ = DefaultSetupPath(storePath, gameId_);
  WriteConfig(L"setup", setupPath_);
}

bool CGameItem::EnsureSetupObject() {
  if (setup_) return true;
  auto setup = std::make_unique<zv::CGameSetup>();
  if (FAILED(setup->Create(this))) return false;
  setup_ = std::move(setup);
  return true;
}

bool CGameItem::BeginSetup() {
  SetDownloading(false);
  if (parts_.empty()) return true;
  if (!EnsureSetupObject()) return false;
  const std::wstring installFolder = InstallFolder(hall_ ? hall_->StorePath() : std::wstring(), gameId_, gameName_);
  if (zv::FileExists(parts_[0].localFile)) {
    setupPath_ = parts_[0].localFile;
    WriteConfig(L"setup", setupPath_);
  }
  if (zv::FileExists(startupPath_)) return true;
  const zv::SetupRequest request = {gameId_.c_str(), setupPath_.c_str(), installFolder.c_str(), ExpectedSetupSize()};
  setupRunning_ = SUCCEEDED(setup_->StartSetup(request));
  if (setupRunning_) PostStatus();
  return false;
}

unsigned long long CGameItem::ExpectedSetupSize() const {
  if (downloadedBytes_ > 0) return downloadedBytes_;
  // Parts fetched before a restart: their files tell the size instead.
  const std::wstring storePath = hall_ ? hall_->StorePath() : std::wstring();
  unsigned long long total = 0;
  for (size_t i = 0; i < parts_.size(); ++i) {
    const std::wstring& local = parts_[i].localFile;
    const std::wstring file = local.empty() ? PartFilePath(storePath, gameId_, parts_[i].name, i) : local;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
      total += (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
  }
  return total;
}

void CGameItem::BeginUninstall() {
  // The uninstall clears "<store>\Games\<name>\": never for a name that is
  // not a plain folder name.
  if (!IsSafeFileName(gameName_) || !EnsureSetupObject()) return;
  const std::wstring folder = GameFolder(hall_ ? hall_->StorePath() : std::wstring(), gameName_);
  const zv::UninstallRequest request = {gameId_.c_str(), folder.c_str(), gameName_.c_str()};
  setup_->Uninstall(request);
}

void CGameItem::EnsureEmulator() {
  emulatorListener_ = true;
  if (zv::CEmulatorMgr::Instance().EnsureEmulator(gameId_, info_.get(), this) != zv::CEmulatorMgr::kReady) return;
  ApplyEmulator();
  SetState(kPrepared);
}

int CGameItem::RestoreEmulator() {
  emulatorListener_ = true;
  const bool ready = zv::CEmulatorMgr::Instance().EnsureEmulator(gameId_, info_.get(), this) == zv::CEmulatorMgr::kReady;
  if (!ready || !CopyPackage()) return kDownloaded;
  ApplyEmulator();
  return kInstalled;
}

void CGameItem::OnEmulatorReady() {
  Scope scope(*this);
  if (closing_) return;
  ApplyEmulator();
  // A game taken down meanwhile asks again when it comes back up.
  if (state_ == kDownloaded) SetState(kPrepared);
}

void CGameItem::ApplyEmulator() {
  startupPath_ = zv::CEmulatorMgr::Instance().GetEmulatorProgram(gameId_, info_.get());
  WriteConfig(L"startup", startupPath_);
  std::wstring commandLine;
  if (zv::PackageCommandLine(PackageName(), &commandLine)) commandLine_ = commandLine;
  WriteConfig(L"cmdline", commandLine_);
}

bool CGameItem::CopyPackage() {
  SetDownloading(false);
  std::wstring source = setupPath_;
  if (source.empty() && !parts_.empty()) source = parts_[0].localFile;
  if (!zv::FileExists(source)) return false;
  // The package name becomes a file name in the ROM folder: never a path.
  const std::wstring packageName = PackageName();
  const std::wstring romFolder = zv::CEmulatorMgr::Instance().GetRomFolder(gameId_, info_.get());
  if (!IsSafeFileName(packageName) || romFolder.empty()) return false;
  zv::CreateFolderTree(romFolder);
  ::CopyFileW(source.c_str(), (romFolder + L"\\" + packageName).c_str(), FALSE);
  QueueNotify(L"SetupEvent", TextVariant(gameId_), NumberVariant(zv::kSetupSucceeded));
  return true;
}

std::wstring CGameItem::PackageName() const { return GameAttribute(info_.get(), gameId_, "pkgName"); }

void CGameItem::OnSetupResult(const wchar_t*, int status, const wchar_t* folder) {
  Scope scope(*this);
  if (closing_) return;
  if (setupRunning_) {
    setupRunning_ = false;
    PostStatus();
  }
  if (status == zv::kSetupSucceeded) {
    const std::wstring startup = folder ? StartupPath(folder, gameName_, startFile_) : std::wstring();
    if (!startup.empty()) {
      startupPath_ = startup;
      WriteConfig(L"startup", startupPath_);
    }
    SetState(kInstalled);
  }
  QueueNotify(L"SetupEvent", TextVariant(gameId_), NumberVariant(status));
}

void CGameItem::OnSetupProgress(const wchar_t*, int percent) {
  Scope scope(*this);
  if (closing_) return;
  QueueNotify(L"SetupProgress", TextVariant(gameId_), NumberVariant(percent));
}

std::wstring CGameItem::GetPartFileName(const std::wstring& partName) {
  Scope scope(*this);
  for (const DownloadPart& part : parts_) {
    if (part.name != partName) continue;
    const size_t slash = part.localFile.find_last_of(L'\\');
    return slash == std::wstring::npos ? part.localFile : part.localFile.substr(slash + 1);
  }
  return std::wstring();
}

bool CGameItem::Launch() {
  Scope scope(*this);
  if (closing_) return false;
  if (process_.IsRunning()) return true;
  if (state_ != kInstalled) {
    target_ = kRunning;
    if (state_ < target_) Advance();
    return true;
  }
  if (!OnHallThreadOrHandOff()) return true;
  ComputePaths();
  if (startupPath_.empty()) return false;
  return SUCCEEDED(process_.Start(startupPath_, commandLine_));
}

void CGameItem::OpenLocation() {
  std::wstring path;
  {
    Scope scope(*this);
    path = startupPath_;
    if (!path.empty() && hallId_ == kEmulatorHallId) {
      path = zv::CEmulatorMgr::Instance().GetRomFolder(gameId_, info_.get()) + L"\\" + PackageName();
    }
  }
  if (path.empty()) return;
  const std::wstring parameters = L"/select, " + path;
  ::ShellExecuteW(nullptr, nullptr, L"explorer", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void CGameItem::DeleteDownloads() {
  Scope scope(*this);
  const std::wstring storePath = hall_ ? hall_->StorePath() : std::wstring();
  if (!storePath.empty()) RemoveTree(zv::Format(L"%ls\\Download\\%ls\\", storePath.c_str(), gameId_.c_str()));
  if (zv::FileExists(configPath_)) RemoveTree(zv::FolderOf(configPath_));
  if (hallId_ == kPcHallId && zv::FileExists(startupPath_)) {
    const std::wstring installed = InstalledGameFolder(startupPath_);
    if (!installed.empty()) RemoveTree(installed);
  }
}

void CGameItem::BuildPartsIfEmpty() {
  if (!parts_.empty()) return;
  PartList list = BuildPartList(info_.get(), gameId_);
  parts_ = std::move(list.parts);
  clientCount_ = list.clientCount;
  patchCount_ = list.patchCount;
}

bool CGameItem::StartDownload() {
  BuildPartsIfEmpty();
  const std::wstring storePath = hall_ ? hall_->StorePath() : std::wstring();
  // Without a store path the parts would land in the drive's root.
  if (parts_.empty() || storePath.empty()) return false;
  bool allPresent = true;
  for (size_t i = 0; i < parts_.size(); ++i) {
    const std::wstring file = PartFilePath(storePath, gameId_, parts_[i].name, i);
    if (zv::FileExists(file)) {
      if (parts_[i].localFile.empty()) parts_[i].localFile = file;
      continue;
    }
    allPresent = false;
    if (parts_[i].url.empty() || parts_[i].wanted) continue;
    SetDownloading(true);
    SetState(kDownloading);
    zv::CreateFolderTree(zv::FolderOf(file));
    const std::string target = zv::ToCodePage(file);
    const FileDownloadSetting setting = {parts_[i].url.c_str(), 0, 1, 1, target.c_str()};
    if (RequestDownload(this, setting) == 0) {
      parts_[i].wanted = true;
      ++parts_[i].outstanding;
      ++outstandingReports_;
    }
  }
  if (!allPresent && !AnyPartWanted()) SetDownloading(false);
  return allPresent;
}

bool CGameItem::AllPartFilesPresent() const {
  const std::wstring storePath = hall_ ? hall_->StorePath() : std::wstring();
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (!zv::FileExists(PartFilePath(storePath, gameId_, parts_[i].name, i))) return false;
  }
  return true;
}

bool CGameItem::AllLocalFilesPresent() const {
  return std::all_of(parts_.begin(), parts_.end(),
                     [](const DownloadPart& part) { return zv::FileExists(part.localFile); });
}

bool CGameItem::AnyPartWanted() const {
  return std::any_of(parts_.begin(), parts_.end(), [](const DownloadPart& part) { return part.wanted; });
}

void CGameItem::DropPartRequests() {
  for (DownloadPart& part : parts_) {
    if (part.wanted) QueueCancel(part.url);
    part.wanted = false;
  }
}

DownloadPart* CGameItem::FindPart(const char* url, size_t* index) {
  *index = 0;
  if (!url) return nullptr;
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (parts_[i].url == url) {
      *index = i;
      return &parts_[i];
    }
  }
  return nullptr;
}

void CGameItem::SetDownloading(bool downloading) {
  if (downloading_ == downloading) return;
  downloading_ = downloading;
  PostStatus();
}

void CGameItem::PostStatus() {
  if (hall_) hall_->PostStatusChanged(gameId_);
}

bool CGameItem::OnHallThreadOrHandOff() {
  // While the host adds its games one after another, a setup or a start that
  // a restored game resumes waits for the host's message loop instead of
  // holding the adding up.
  if (!hall_ || (hall_->OnHallThread() && !initializing_)) return true;
  hall_->PostHallStep(gameId_);
  return false;
}

void CGameItem::ContinueOnHallThread() {
  Scope scope(*this);
  if (state_ < target_) {
    Advance();
  } else if (state_ > target_) {
    Regress();
  }
}

void CGameItem::OnGameConfigReady() {
  Scope scope(*this);
  if (closing_) return;
  zv::ComPtr<IQuiverItem> info;
  if (!CGameInfoCache::Instance().GetGameInfo(gameId_, hallId_, &info)) return;
  ApplyGameInfo(info);
  SetState(kInfoReady);
  Restore();
  QueueNotify(L"GameConfigDownloadOk", TextVariant(gameId_), zv::ToScriptObject(info.get()));
}

int CGameItem::OnDownloadStatusChanged(const FileDownloadStatus* report) {
  ++activeCallbacks_;
  zv::GuardBoundary([&]() -> HRESULT {
    if (!report) return S_OK;
    Scope scope(*this);
    if (report->status != FileDownloadStatus::kProgress) CountFinalReport(report->url);
    if (closing_) return S_OK;
    size_t index = 0;
    DownloadPart* part = FindPart(report->url, &index);
    switch (report->status) {
      case FileDownloadStatus::kProgress:
        OnProgress(*report, part, index);
        break;
      case FileDownloadStatus::kFinished:
        OnPartFinished(*report);
        break;
      case FileDownloadStatus::kCancelled:
      case FileDownloadStatus::kFailed:  // the engine's failure code: the download has stopped too
        OnPartStopped(*report);
        break;
      default:
        break;
    }
    return S_OK;
  });
  --activeCallbacks_;
  return 0;
}

void CGameItem::CountFinalReport(const char* url) {
  size_t index = 0;
  if (!FindPart(url, &index)) return;
  for (DownloadPart& part : parts_) {
    if (part.url == url && part.outstanding > 0) {
      --part.outstanding;
      --outstandingReports_;
      return;
    }
  }
}

void CGameItem::OnProgress(const FileDownloadStatus& report, DownloadPart* part, size_t index) {
  // Reports that were already on their way when the part was paused or
  // cancelled would otherwise mark the game as downloading again.
  if (!part || !part->wanted) return;
  QueueNotify(L"GameDownloadNotify", NewProgressObject(report, index, std::wstring()), zv::UniqueVariant());
  if (report.fileSize > 0) {
    const double percent = static_cast<double>(report.completedSize) * 100.0 / report.fileSize;
    downloadProgress_ = std::min(100, static_cast<int>(percent));
    WriteState(L"download", L"progress", downloadProgress_);
  }
  SetDownloading(true);
}

void CGameItem::OnPartFinished(const FileDownloadStatus& report) {
  const std::wstring saved = report.savedPath ? zv::FromCodePage(report.savedPath) : std::wstring();
  bool wasWanted = false;
  size_t index = 0;
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (parts_[i].url != report.url) continue;
    if (!wasWanted) index = i;
    wasWanted = wasWanted || parts_[i].wanted;
    parts_[i].wanted = false;
    parts_[i].localFile = saved;
  }
  if (report.fileSize > 0) downloadedBytes_ += static_cast<unsigned long long>(report.fileSize);
  if (wasWanted && AllLocalFilesPresent()) {
    QueueNotify(L"GameDownloadComplete", NewProgressObject(report, index, saved), zv::UniqueVariant());
    downloadProgress_ = 100;
    WriteState(L"download", L"progress", 100);
    SetState(kDownloaded);
  } else if (!AnyPartWanted()) {
    SetDownloading(false);
  }
}

void CGameItem::OnPartStopped(const FileDownloadStatus& report) {
  for (DownloadPart& part : parts_) {
    if (part.url == report.url && part.outstanding == 0) part.wanted = false;
  }
  if (!AnyPartWanted()) SetDownloading(false);
}

zv::UniqueVariant CGameItem::NewProgressObject(const FileDownloadStatus& report, size_t partIndex,
                                               const std::wstring& file) {
  zv::ComPtr<IDispatchEx> object = zv::NewDataX();
  if (!object) return zv::UniqueVariant();
  const float bytesPerSecond = report.speed * 1024.0f;
  IDispatchEx* o = object.get();
  PutText(o, L"speed", FormatSize(bytesPerSecond) + L"/s");
  PutI4(o, L"speedvalue", static_cast<LONG>(bytesPerSecond));
  PutI4(o, L"status", report.status);
  PutText(o, L"filesize_str", FormatSize(static_cast<float>(report.fileSize)));
  PutI4(o, L"filesize", report.fileSize);
  PutI4(o, L"completesize", report.completedSize);
  PutText(o, L"url", report.url ? zv::FromCodePage(report.url) : std::wstring());
  PutText(o, L"gameid", gameId_);
  PutText(o, L"gamename", gameName_);
  PutUI4(o, L"partcount", static_cast<ULONG>(parts_.size()));
  PutI4(o, L"partindex", parts_.size() > 1 ? static_cast<LONG>(partIndex) : 0);
  if (!file.empty()) PutText(o, L"file", file);
  return DispatchVariant(object);
}

zv::UniqueVariant CGameItem::NewStatusObject() {
  zv::ComPtr<IDispatchEx> object = zv::NewDataX();
  if (!object) return zv::UniqueVariant();
  IDispatchEx* o = object.get();
  PutI4(o, L"state", state_);
  PutYesNo(o, L"downloadstate", downloading_);
  PutYesNo(o, L"setupstate", setupRunning_);
  PutI4(o, L"downloadprogress", downloadProgress_);
  PutText(o, L"gamename", gameName_);
  return DispatchVariant(object);
}

void CGameItem::FireStatusChanged() {
  Scope scope(*this);
  if (closing_) return;
  QueueNotify(L"GameStatusChanged", TextVariant(gameId_), NewStatusObject());
}

HRESULT CGameItem::GetStatusObject(VARIANT* result) {
  Scope scope(*this);
  zv::UniqueVariant status = NewStatusObject();
  RETURN_HR_IF(E_OUTOFMEMORY, status->vt != VT_DISPATCH);
  *result = status.release();
  return S_OK;
}

HRESULT CGameItem::GetInfoObject(VARIANT* result) {
  Scope scope(*this);
  *result = zv::ToScriptObject(info_.get()).release();
  return S_OK;
}

void CGameItem::QueueNotify(const wchar_t* event, zv::UniqueVariant param1, zv::UniqueVariant param2) {
  if (!hall_) return;
  auto params = std::make_shared<std::pair<zv::UniqueVariant, zv::UniqueVariant>>(std::move(param1), std::move(param2));
  GameHall* hall = hall_;
  queued_.push_back([hall, event, params] { hall->FireNotify(event, *params->first.get(), *params->second.get()); });
}

void CGameItem::QueueCancel(const std::string& url) {
  queued_.push_back([url] { CFileDownloadManager::CancelDownloadFile(url.c_str()); });
}

void CGameItem::WriteConfig(const wchar_t* key, const std::wstring& value) {
  config_.WriteString(L"config", key, value);
}

void CGameItem::WriteState(const wchar_t* section, const wchar_t* key, int value) {
  config_.WriteInt(section, key, value);
}

bool CGameItem::IdleForClose() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return outstandingReports_ == 0 && activeCallbacks_ == 0;
}

bool CGameItem::Close() {
  std::unique_ptr<zv::CGameSetup> setup;
  {
    Scope scope(*this);
    if (closing_) return IdleForClose();
    closing_ = true;
    setup = std::move(setup_);
    DropPartRequests();
  }
  // Its workers report to this thread; their late reports find the item closing.
  if (setup) setup->Shutdown();
  // Outside the lock: the manager waits for a notice running on another
  // thread, which would be waiting for the lock.
  if (emulatorListener_) zv::CEmulatorMgr::Instance().RemoveListener(gameId_, info_.get(), this);
  const ULONGLONG deadline = ::GetTickCount64() + kCloseWaitMs;
  while (!IdleForClose()) {
    if (::GetTickCount64() >= deadline) return false;
    // Engine threads may be sending to this thread's windows while they
    // report; answer them so they can finish.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  return true;
}

}  // namespace ostrelle
