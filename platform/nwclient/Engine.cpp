// Engine state: trees, connections, contexts, buffers, iterations and call controls.
#include "platform/nwclient/Engine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/nwclient/ModelSource.h"
#include "platform/nwclient/Operations.h"
#include "platform/nwclient/ldap/LdapSignIn.h"
#include "platform/nwclient/ldap/LdapSource.h"

#ifndef VESTREL_SOURCE_TREES
#define VESTREL_SOURCE_TREES ""
#endif
#ifndef VESTREL_INSTALLED_DATA
#define VESTREL_INSTALLED_DATA "../share/vestrel"
#endif

namespace vestrel::nw {

namespace fs = std::filesystem;

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw LoadError(path + ": cannot be opened");
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string ProgramFolder() {
  std::error_code error;
  fs::path exe = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : exe.parent_path().string();
}

// The connections file of the workstation, or empty when there is none.
std::string ConnectionsFilePath() {
  std::string explicitPath = EnvText("VESTREL_CONNECTIONS");
  if (!explicitPath.empty()) return explicitPath;
  std::string config = EnvText("XDG_CONFIG_HOME");
  if (config.empty() && !EnvText("HOME").empty()) config = EnvText("HOME") + "/.config";
  if (config.empty()) return "";
  std::string path = config + "/vestrel/connections.json";
  std::error_code error;
  return fs::exists(path, error) ? path : "";
}

// Beside the program (the build folder), in the installed data folder, then in the
// source checkout (test programs built elsewhere).
std::vector<std::string> DemoTreeFolders() {
  std::vector<std::string> folders;
  const std::string program = ProgramFolder();
  if (!program.empty()) {
    folders.push_back(program + "/trees");
    folders.push_back((fs::path(program) / VESTREL_INSTALLED_DATA / "trees").lexically_normal().string());
  }
  folders.push_back(VESTREL_SOURCE_TREES);
  return folders;
}

std::vector<std::string> DemoTreeFiles() {
  for (const std::string& folder : DemoTreeFolders()) {
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) continue;
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder, error))
      if (entry.path().extension() == ".json") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    if (!files.empty()) return files;
  }
  return {};
}

}  // namespace

void BufferState::ClearContent() {
  attrNames.clear();
  infoType = 0;
  reply.clear();
  nextAttr = 0;
  nextValue = 0;
  replyReady = false;
  serverName.clear();
  partitions.clear();
  nextPartition = 0;
  partitionsReady = false;
  payload.reset();
  if (header) header->curLen = 0;
}

// ---- Clock ----

nuint32 Clock::Now() const {
  std::int64_t now = fixed_ ? value_ : static_cast<std::int64_t>(std::time(nullptr)) + offset_;
  return static_cast<nuint32>(std::clamp<std::int64_t>(now, 0, 0xFFFFFFFFll));
}

void Clock::Set(nuint32 seconds) {
  fixed_ = true;
  value_ = seconds;
}

void Clock::Advance(std::int64_t seconds) {
  if (fixed_)
    value_ += seconds;
  else
    offset_ += seconds;
}

void Clock::Reset() {
  fixed_ = false;
  value_ = 0;
  offset_ = 0;
}

// ---- Trees and connections ----

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

void Engine::EnsureLoaded() {
  if (loaded_ || !autoLoad_) return;
  loaded_ = true;
  LoadDefaults();
}

void Engine::LoadDefaults() {
  // A program that names one tree file (vestrel-check --tree-file) gets that tree alone,
  // as the primary connection; the connections file and the demo trees are not read.
  std::string treeFile = EnvText("VESTREL_TREE_FILE");
  if (!treeFile.empty()) {
    try {
      DirectorySource* tree = LoadTreeFileOnce(treeFile);
      AddConnection(*tree, TreeNamed(tree->TreeName())->defaultCreator, true);
    } catch (const LoadError& e) {
      AddProblem(e.what(), true);
    }
    return;
  }
  std::string path = ConnectionsFilePath();
  if (!path.empty()) {
    try {
      LoadConnectionsFile(path);
    } catch (const LoadError& e) {
      // A file that breaks off half-way may have made the primary connection already.
      const bool primaryMade = std::any_of(connections_.begin(), connections_.end(),
                                           [](const Connection& c) { return c.primary; });
      AddProblem(e.what(), !primaryMade);
    }
    return;
  }
  // The shipped demo trees: the first file's tree is primary and has two connections.
  bool first = true;
  for (const std::string& file : DemoTreeFiles()) {
    try {
      DirectorySource* tree = LoadTreeFileOnce(file);
      const std::string& user = TreeNamed(tree->TreeName())->defaultCreator;
      AddConnection(*tree, user, first);
      if (first) AddConnection(*tree, user, false);
      first = false;
    } catch (const LoadError& e) {
      // The first demo tree that loads is the primary one: a broken one keeps none out.
      AddProblem(e.what(), false);
    }
  }
}

void Engine::Clear() {
  DropPendingOperations();  // no sync of an old tree may run on a newly loaded one
  // Searches under way may still tell their server they are given up: before the trees go.
  iterations_.clear();
  buffers_.clear();
  contexts_.clear();
  connections_.clear();
  treeFiles_.clear();
  sources_.clear();
  problems_.clear();
  primaryProblem_.reset();
  preferredTree.clear();
  partitionBatchOverride = 0;
  clockFromTree_ = false;
  clock.Reset();
}

DirectorySource& Engine::AddTree(std::unique_ptr<Tree> tree) {
  if (SourceNamed(tree->name)) throw LoadError(tree->file + ": the tree \"" + tree->name + "\" is already loaded from another file");
  if (tree->clock && !clockFromTree_) {
    clockFromTree_ = true;
    clock.Advance(static_cast<std::int64_t>(tree->clock) - clock.Now());
  }
  sources_.push_back(std::make_unique<ModelSource>(std::move(tree)));
  return *sources_.back();
}

DirectorySource& Engine::AddSource(std::unique_ptr<DirectorySource> source) {
  if (SourceNamed(source->TreeName())) throw LoadError("the tree \"" + source->TreeName() + "\" is connected twice");
  sources_.push_back(std::move(source));
  return *sources_.back();
}

DirectorySource* Engine::SourceNamed(const std::string& name) const {
  for (const auto& source : sources_)
    if (EqualsNoCase(source->TreeName(), name)) return source.get();
  return nullptr;
}

Tree* Engine::TreeNamed(const std::string& name) const {
  auto* model = dynamic_cast<ModelSource*>(SourceNamed(name));
  return model ? &model->ModelTree() : nullptr;
}

DirectorySource* Engine::LoadTreeFileOnce(const std::string& path) {
  std::error_code error;
  std::string key = fs::weakly_canonical(path, error).string();
  if (error) key = path;
  if (auto it = treeFiles_.find(key); it != treeFiles_.end()) return it->second;
  DirectorySource& tree = AddTree(LoadTreeFile(path));
  treeFiles_[key] = &tree;
  return &tree;
}

void Engine::AddConnection(DirectorySource& source, const std::string& user, bool primary) {
  if (primary) {
    for (Connection& c : connections_) c.primary = false;
    preferredTree = source.TreeName();
  }
  if (preferredTree.empty()) preferredTree = source.TreeName();
  connections_.push_back(Connection{&source, user, primary});
}

void Engine::LoadConnectionsText(const std::string& text, const std::string& label, const std::string& baseDir) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(text, nullptr, true, true);
  } catch (const nlohmann::json::exception& e) {
    throw LoadError(label + ": not valid JSON: " + e.what());
  }
  const nlohmann::json* list = &doc;
  if (doc.is_object() && doc.contains("connections")) list = &doc["connections"];
  if (!list->is_array()) throw LoadError(label + ": expected {\"connections\": [...]}");
  bool primaryAsked = false;
  std::optional<std::size_t> firstProblem;
  for (std::size_t i = 0; i < list->size(); ++i) {
    const nlohmann::json& item = (*list)[i];
    std::string where = label + ": connections[" + std::to_string(i) + "]";
    const bool ldap = item.is_object() && item.contains("ldap");
    if (!ldap && (!item.is_object() || !item.contains("tree") || !item["tree"].is_string()))
      throw LoadError(where + ": expected an object with a \"tree\" file name");
    if (!ldap && item.contains("user") && !item["user"].is_string()) throw LoadError(where + ".user: expected a text");
    if (item.contains("primary") && !item["primary"].is_boolean()) throw LoadError(where + ".primary: expected true or false");
    const bool primary = item.value("primary", false);
    primaryAsked = primaryAsked || primary;
    try {
      if (ldap) {
        ConnectLdap(item, where, baseDir);
      } else {
        fs::path treePath = item["tree"].get<std::string>();
        if (treePath.is_relative() && !baseDir.empty()) treePath = fs::path(baseDir) / treePath;
        DirectorySource* tree = LoadTreeFileOnce(treePath.string());
        AddConnection(*tree, item.value("user", std::string()), primary);
      }
      if (primary) primaryProblem_.reset();  // a later primary connection wins, as in AddConnection
    } catch (const LoadError& e) {
      // One broken tree, or a server that cannot be reached or refuses the sign-in, leaves
      // the other connections usable.
      AddProblem(e.what(), primary);
      if (i == 0) firstProblem = problems_.size() - 1;
    }
  }
  // Without a connection marked primary the first one is the preferred one.
  if (!primaryAsked && firstProblem) primaryProblem_ = firstProblem;
  // The connections hold their passwords now: the programs the window starts later (the
  // desktop's opener) must not inherit one.
  unsetenv(ldap::kPasswordVariable);
}

void Engine::AddProblem(const std::string& text, bool keptPrimary) {
  problems_.push_back(text);
  if (keptPrimary) primaryProblem_ = problems_.size() - 1;
}

void Engine::ConnectLdap(const nlohmann::json& item, const std::string& where, const std::string& baseDir) {
  bool asked = false;
  ldap::PasswordPrompt firstAsking;
  if (passwordPrompt) {
    firstAsking = [&](const std::string& connection, const std::string& bindDn, std::string& password) {
      asked = true;
      return passwordPrompt(connection, bindDn, std::string(), password);
    };
  }
  ldap::LdapSettings settings = ldap::ParseLdapConnection(item, where, baseDir, firstAsking);
  // A typed password may be mistyped: it is tried first, so that a refused one can be
  // asked for again. Passwords from files and the environment are used as they are.
  if (asked) SignInAsked(settings, where);
  const bool primary = settings.primary;
  try {
    std::unique_ptr<ldap::LdapSource> source = ldap::LdapSource::Open(std::move(settings));
    const std::string user = source->UserName();
    DirectorySource& added = AddSource(std::move(source));
    AddConnection(added, user, primary);
  } catch (const LoadError& e) {
    throw LoadError(where + ": " + e.what());
  }
}

void Engine::SignInAsked(ldap::LdapSettings& settings, const std::string& where) {
  for (int tries = 1;; ++tries) {
    std::string refusal;
    const ldap::SignInOutcome outcome = ldap::TrySignIn(settings, refusal);
    if (outcome == ldap::SignInOutcome::Accepted) return;
    // The problem reads as when the connection itself fails to sign in.
    const LoadError problem(where + ": " + settings.Label() + ": " + refusal);
    if (outcome != ldap::SignInOutcome::PasswordRefused || tries == kSignInTries) throw problem;
    std::string password;
    // Cancel leaves the connection out for the reason the server gave.
    if (!passwordPrompt(settings.Label(), settings.bindDn, refusal, password) || password.empty()) throw problem;
    settings.password = std::move(password);
  }
}

void Engine::LoadConnectionsFile(const std::string& path) {
  LoadConnectionsText(ReadWholeFile(path), path, fs::path(path).parent_path().string());
}

// ---- Contexts ----

NWDSContextHandle Engine::NewContext(const Context& settings) {
  NWDSContextHandle handle = nextContext_++;
  if (nextContext_ == ERR_CONTEXT_CREATION) nextContext_ = 1;
  contexts_[handle] = settings;
  return handle;
}

Context* Engine::FindContext(NWDSContextHandle handle) {
  auto it = contexts_.find(handle);
  return it == contexts_.end() ? nullptr : &it->second;
}

bool Engine::FreeContext(NWDSContextHandle handle) {
  if (contexts_.erase(handle) == 0) return false;
  // Listings abandoned half-way end with their context.
  std::erase_if(iterations_, [&](const auto& entry) { return entry.second->context == handle; });
  return true;
}

NWRCODE Engine::ContextSource(NWDSContextHandle handle, Context*& context, DirectorySource*& source) {
  context = FindContext(handle);
  if (!context) return ERR_BAD_CONTEXT;
  source = nullptr;
  for (const Connection& c : connections_)
    if (EqualsNoCase(c.source->TreeName(), context->tree)) source = c.source;
  return source ? 0 : ERR_NO_CONNECTION;
}

// ---- Buffers ----

Buf_T* Engine::NewBuffer(std::size_t size) {
  auto state = std::make_unique<BufferState>();
  state->header = std::make_unique<Buf_T>();
  state->data = std::make_unique<nuint8[]>(size);
  state->header->maxLen = static_cast<nuint32>(size);
  state->header->data = state->data.get();
  Buf_T* header = state->header.get();
  buffers_[header] = std::move(state);
  return header;
}

BufferState* Engine::FindBuffer(const Buf_T* buffer) {
  auto it = buffers_.find(buffer);
  return it == buffers_.end() ? nullptr : it->second.get();
}

bool Engine::FreeBuffer(Buf_T* buffer) { return buffers_.erase(buffer) > 0; }

// ---- Iterations ----

nuint32 Engine::AddIteration(std::unique_ptr<Iteration> iteration) {
  nuint32 handle = nextIteration_++;
  if (nextIteration_ == NO_MORE_ITERATIONS) nextIteration_ = 1;
  iterations_[handle] = std::move(iteration);
  return handle;
}

Iteration* Engine::FindIteration(nuint32 handle) {
  auto it = iterations_.find(handle);
  return it == iterations_.end() ? nullptr : it->second.get();
}

bool Engine::EndIteration(nuint32 handle) { return iterations_.erase(handle) > 0; }

// ---- Call controls ----

NWRCODE Engine::Enter(const char* operation) {
  RunDueOperations();  // scheduled syncs take effect whenever the directory is next used
  std::uint64_t count = ++calls_[operation];
  auto latency = latency_.find(operation);
  if (latency == latency_.end()) latency = latency_.find("");
  if (latency != latency_.end() && latency->second.count() > 0) std::this_thread::sleep_for(latency->second);
  auto rule = failures_.find(operation);
  if (rule == failures_.end() || count <= rule->second.afterCalls || rule->second.times == 0) return 0;
  if (rule->second.times > 0) --rule->second.times;
  return rule->second.code;
}

std::uint64_t Engine::CallCount(const std::string& operation) const {
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

void Engine::SetLatency(std::chrono::microseconds latency, const std::string& operation) { latency_[operation] = latency; }

void Engine::ClearControls() {
  calls_.clear();
  failures_.clear();
  latency_.clear();
}

}  // namespace vestrel::nw
