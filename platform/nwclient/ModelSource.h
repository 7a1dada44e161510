// A tree loaded from a tree file, served from memory: the embedded directory.
#pragma once

#include <memory>

#include "platform/nwclient/Source.h"

namespace vestrel::nw {

class ModelSource : public DirectorySource {
 public:
  explicit ModelSource(std::unique_ptr<Tree> tree) : tree_(std::move(tree)) {}

  Tree& ModelTree() { return *tree_; }
  const Tree& ModelTree() const { return *tree_; }

  bool KnownName(const std::string& fullName, std::vector<std::string>& typed, std::string& spelling) const override;
  const std::string& TreeName() const override { return tree_->name; }
  NWRCODE Available() override { return 0; }
  NWRCODE Summary(const Context& context, const char* name, ObjectSummary& out) override;
  NWRCODE ReadAttributes(const Context& context, const char* name, bool allAttrs, const std::vector<std::string>& names,
                         std::vector<Attribute>& out) override;
  NWRCODE StartSearch(const Context& context, const SearchRequest& request,
                      std::unique_ptr<SearchCursor>& cursor) override;
  bool SyntaxOf(const std::string& attrName, nuint32& syntax) const override { return tree_->SyntaxOf(attrName, syntax); }
  NWRCODE ServerPartitions(const Context& context, const char* server, std::string& serverName,
                           std::vector<PartitionEntry>& entries) override;
  std::size_t PartitionBatch() const override { return tree_->partitionBatch; }
  NWRCODE ReplicaSyncErrors(const Context& context, const char* server, const char* partition,
                            std::vector<NWRCODE>& errors) override;
  NWRCODE ServerTime(nuint32& now) override;
  NWRCODE Operate(const Context& context, const OperationArgs& args) override;
  // A tree in memory carries all ten.
  bool Carries(Operation /*operation*/, std::string& reason) const override {
    reason.clear();
    return true;
  }

 private:
  std::unique_ptr<Tree> tree_;
};

// The ten operations on a tree in memory (Operations.cpp).
NWRCODE RunModelOperation(Tree& tree, const Context& context, const OperationArgs& args);

}  // namespace vestrel::nw
