// The descriptor space of an earlier run, as labelled trees: each record of its
// fragment file checked against this run's settings and put into growth form, so
// that the enumeration can tell by tree class which descriptor a bond set is.
#include <string>
#include <vector>

#include "enumerate/enumerate_detail.h"
#include "enumerate/tree_freq.h"

namespace sarvik {

namespace {

[[noreturn]] void refuse_record(const SpaceRule& rule, std::size_t record, const std::string& title,
                         const std::string& what) {
  error("descriptor space '" + shown(rule.file, false) + "': record " + std::to_string(record + 1) +
        (title.empty() ? "" : " ('" + shown(title) + "')") + " " + what + "\n");
}

}  // namespace

bool growth_form(const Graph& g, std::vector<int>& label, std::vector<int>& parent,
                 std::vector<int>& bond, std::vector<int>& place) {
  const int n = g.vs;
  label.assign(n, 0);
  parent.assign(n, -1);
  bond.assign(n, 0);
  place.assign(n, -1);  // vertex of g -> its place in growth order
  if (n == 0) return false;
  std::vector<int> order(1, 0);
  place[0] = 0;
  label[0] = g.vl[0];
  for (std::size_t k = 0; k < order.size(); ++k) {
    const int x = order[k];
    for (int a = g.v[x]; a < g.v[x + 1]; ++a) {
      const int y = g.e[a];
      if (place[y] >= 0) continue;
      place[y] = static_cast<int>(order.size());
      label[place[y]] = g.vl[y];
      parent[place[y]] = static_cast<int>(k);
      bond[place[y]] = g.el[a];
      order.push_back(y);
    }
  }
  return static_cast<int>(order.size()) == n;
}

void descriptor_space_add(DescriptorSpace& space, const SpaceRule& rule, int position,
                          const Graph& g, const std::string& title) {
  std::vector<int> place, label, parent, bond;
  const std::size_t r = static_cast<std::size_t>(position);
  const auto refuse = [&rule, r, &title](const std::string& what) {
    refuse_record(rule, r, title, what);
  };
  const int bonds = g.es / 2;
  if (bonds == 0) refuse("is no fragment: it has no bond");
  if (bonds >= g.vs) refuse("is no fragment: it has a cycle");
  if (bonds < g.vs - 1 || !growth_form(g, label, parent, bond, place))
    refuse("is no fragment: it has more than one part");
  if (bonds < rule.mint || bonds > rule.maxt)
    refuse("has " + std::to_string(bonds) + " bonds, outside the lengths " +
           std::to_string(rule.mint) + " to " + std::to_string(rule.maxt) +
           " of -lmin and -lmax: give the lengths of the run that made the space");
  const bool branched = fragment_is_branched(g);
  if (rule.opt == kFragmentsTrees && !branched)
    refuse("is a path, but -ds TF keeps only branched fragments");
  if (rule.opt == kFragmentsPaths && branched) refuse("is branched, but -ds PF keeps only paths");
  for (int i = 0; i < g.vs; ++i) {
    const std::string& type = rule.ls->vl.buf[static_cast<std::size_t>(g.vl[i])];
    if (rule.NoAtmLabels == 1 && rule.format == Format::mol2 && type.find('.') != std::string::npos)
      refuse("has the atom type '" + shown(type) + "', but -NoAtmLabels keeps only elements");
  }
  for (int a = 0; a < g.es; ++a)
    if (rule.NoBndLabels == 1 && rule.ls->el.buf[static_cast<std::size_t>(g.el[a])] != kBondTypes[0].label)
      refuse("has a bond that is not single, but -NoBndLabels makes every bond single");
  if (space.by_length.size() <= static_cast<std::size_t>(bonds)) space.by_length.resize(bonds + 1);
  DescriptorSpace::Length& l = space.by_length[bonds];
  l.id.push_back(position + 1);
  l.label.insert(l.label.end(), label.begin(), label.end());
  l.parent.insert(l.parent.end(), parent.begin(), parent.end());
  l.bond.insert(l.bond.end(), bond.begin(), bond.end());
  ++space.size;
}

void descriptor_space_check_repeats(const DescriptorSpace& space, const SpaceRule& rule) {
  TreeClasses seen;
  std::vector<int> first;  // per class: the first record's id, 0 none
  for (std::size_t n = 1; n < space.by_length.size(); ++n) {
    const DescriptorSpace::Length& l = space.by_length[n];
    tree_classes_clear(seen);
    first.clear();
    for (std::size_t k = 0; k < l.id.size(); ++k) {
      const int cls = tree_class(seen, static_cast<int>(n + 1), l.label.data() + k * (n + 1),
                                 l.parent.data() + k * (n + 1), l.bond.data() + k * (n + 1));
      if (first.size() <= static_cast<std::size_t>(cls)) first.resize(cls + 1, 0);
      if (first[cls] != 0)
        refuse_record(rule, static_cast<std::size_t>(l.id[k]) - 1, "",
               "is the same fragment as record " + std::to_string(first[cls]));
      first[cls] = l.id[k];
    }
  }
}

}  // namespace sarvik
