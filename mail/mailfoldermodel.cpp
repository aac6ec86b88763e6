#include "mailfoldermodel.h"

#include "addressclass.h"
#include "dateclass.h"
#include "foldernotifier.h"
#include "indexclass.h"
#include "mailfolder.h"
#include "messageclass.h"
#include "messagedescriptor.h"
#include "messagedevice.h"
#include "mimepart.h"
#include "streamio_p.h"

#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

// What the list shows of a message, read from its descriptor once.
struct Summary {
    QString subject;
    QString from;      // as the descriptor holds it ("Name" <address>)
    QString sender;    // the name alone, or the address
    QDateTime date;
};

struct Node {
    QString id;
    quint64 seq = 0;   // place in the folder's order
    Node* parent = nullptr;
    int row = 0;
    int mark = 0;      // scratch, for cycle detection
    std::vector<std::unique_ptr<Node>> children;
    std::unique_ptr<Summary> sum;
};

// The display name of a descriptor's sender: the name when there is one,
// else the address.
QString senderName(const QString& from)
{
    const AddressClass a(from);
    const QString name = a.getTranslated_name().trimmed();
    if (!name.isEmpty())
        return name;
    if (!a.email.isEmpty())
        return QString::fromUtf8(a.email);
    return from;
}

QString sizeText(qint64 n)
{
    if (n < 1024)
        return QStringLiteral("%1 B").arg(n);
    if (n < 1024 * 1024)
        return QStringLiteral("%1 KB").arg((n + 1023) / 1024);
    return QStringLiteral("%1 MB").arg(double(n) / (1024.0 * 1024.0), 0, 'f', 1);
}

bool hasAttachment(const IndexClass* e)
{
    for (int i = 0; i < e->getPartCount(); ++i)
        if (e->getPartAt(i)->type == "attachment")
            return true;
    return false;
}

}  // namespace

struct MailFolderModel::Private {
    explicit Private(MailFolderModel* model) : q(model) {}
    MailFolderModel* q;
    MailFolder* folder = nullptr;
    bool threaded = false;
    int batch = 256;
    int fetched = 0;          // top-level rows shown
    int sortColumn = -1;
    Qt::SortOrder sortOrder = Qt::AscendingOrder;
    quint64 nextSeq = 0;
    // While the model announces a change (reset, layout, rows), a view (or
    // a tester) that asks for more rows is served from the event loop: rows
    // inserted inside an announcement would break its contract.
    bool announcing = false;
    bool fetchQueued = false;
    Node root;
    QHash<QString, Node*> byId;
    // Flat and in folder order, the top-level rows past the made nodes are
    // the folder's entries from laterPos on: a node is made for a row only
    // when it is fetched, so a folder of any size shows its first rows at
    // once. Threading, sorting and lookups by ID make all nodes first.
    std::vector<IndexClass*> later;
    size_t laterPos = 0;

    IndexClass* entryOf(const Node* n) const
    {
        return folder ? folder->indexIDict()->find(n->id) : nullptr;
    }
    Node* nodeOf(const QModelIndex& i) const
    {
        return i.isValid() ? static_cast<Node*>(i.internalPointer()) : nullptr;
    }
    QModelIndex indexOfNode(const Node* n, int column = 0) const
    {
        if (!n || n == &root)
            return QModelIndex();
        return q->createIndex(n->row, column, const_cast<Node*>(n));
    }
    // A node is shown when its top-level ancestor lies within the fetched rows.
    bool shown(const Node* n) const
    {
        if (n == &root)
            return true;
        while (n->parent != &root)
            n = n->parent;
        return n->row < fetched;
    }
    int childCount(const Node* n) const
    {
        return n == &root ? fetched : int(n->children.size());
    }
    size_t pending() const { return later.size() - laterPos; }
    int topRows() const { return int(root.children.size() + pending()); }
    // A node for message \a id, next in folder order and known by its ID;
    // not placed in the tree yet.
    std::unique_ptr<Node> newNode(const QString& id)
    {
        auto n = std::make_unique<Node>();
        n->id = id;
        n->seq = nextSeq++;
        byId.insert(id, n.get());
        return n;
    }
    // Makes the nodes of the next \a count pending entries.
    void makeNext(size_t count)
    {
        count = std::min(count, pending());
        root.children.reserve(root.children.size() + count);
        for (size_t end = laterPos + count; laterPos < end; ++laterPos) {
            std::unique_ptr<Node> n = newNode(later[laterPos]->getID());
            n->parent = &root;
            n->row = int(root.children.size());
            root.children.push_back(std::move(n));
        }
        if (!pending()) {
            later.clear();
            later.shrink_to_fit();
            laterPos = 0;
        }
    }
    void makeAll() { makeNext(pending()); }

    void build();
    void load(std::vector<Node*> nodes) const;
    const Summary& summary(Node* n) const;
    QVariant key(Node* n, int column) const;
    bool less(Node* a, Node* b) const;
    int insertPosition(Node* parent, Node* n) const;
    void renumber(Node* parent, size_t from) const;
    std::unique_ptr<Node> detach(Node* n);
    void attach(std::unique_ptr<Node> n, Node* parent);
    Node* threadParent(Node* n) const;
    void sortLevel(Node* parent);
};

void MailFolderModel::Private::build()
{
    root.children.clear();
    byId.clear();
    later.clear();
    laterPos = 0;
    fetched = 0;
    nextSeq = 0;
    if (!folder)
        return;
    std::vector<IndexClass*> entries = folder->indexIDict()->entries();
    if (!threaded && sortColumn < 0) {
        later = std::move(entries);
        return;
    }
    std::vector<std::unique_ptr<Node>> nodes;
    nodes.reserve(entries.size());
    byId.reserve(qsizetype(entries.size()));
    for (IndexClass* e : entries)
        nodes.push_back(newNode(e->getID()));
    // Tentative parents, then cut every cycle (a damaged index may hold one)
    // in one pass: walk up from each node, marking the way.
    std::vector<Node*> up(nodes.size(), nullptr);
    if (threaded) {
        for (size_t i = 0; i < nodes.size(); ++i)
            up[i] = threadParent(nodes[i].get());
        QHash<Node*, size_t> pos;
        pos.reserve(qsizetype(nodes.size()));
        for (size_t i = 0; i < nodes.size(); ++i)
            pos.insert(nodes[i].get(), i);
        for (size_t i = 0; i < nodes.size(); ++i) {
            std::vector<size_t> path;
            size_t x = i;
            bool end = false;
            while (!end && nodes[x]->mark == 0) {
                nodes[x]->mark = 1;
                path.push_back(x);
                if (!up[x])
                    end = true;
                else
                    x = pos.value(up[x]);
            }
            if (!end && nodes[x]->mark == 1)
                up[x] = nullptr;  // x closes a cycle: it becomes a thread root
            for (size_t p : path)
                nodes[p]->mark = 2;
        }
    }
    // Children in folder order; siblings are then ordered as sorting says.
    std::vector<Node*> raw(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i)
        raw[i] = nodes[i].get();
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node* p = up[i] ? up[i] : &root;
        nodes[i]->parent = p;
        nodes[i]->row = int(p->children.size());
        p->children.push_back(std::move(nodes[i]));
    }
    if (sortColumn >= 0) {
        load(raw);
        sortLevel(&root);
    }
}

Node* MailFolderModel::Private::threadParent(Node* n) const
{
    const IndexClass* e = entryOf(n);
    if (!e || e->getParentID().isEmpty() || e->getParentID() == n->id)
        return nullptr;
    return byId.value(e->getParentID());
}

// Reads the summaries of \a nodes that have none, with one opening of the
// descriptor file. Records that cannot be read give empty summaries.
void MailFolderModel::Private::load(std::vector<Node*> nodes) const
{
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(), [](Node* n) { return bool(n->sum); }),
                nodes.end());
    if (nodes.empty() || !folder)
        return;
    // Messages stored in a batch have their descriptors still pending.
    for (Node* n : nodes) {
        const IndexClass* e = entryOf(n);
        if (e && e->getDescriptorLength() == 0) {
            folder->sync();
            break;
        }
    }
    // In file order, so that a sort reads the file front to back.
    std::vector<std::pair<const IndexClass*, Node*>> todo;
    todo.reserve(nodes.size());
    for (Node* n : nodes) {
        n->sum = std::make_unique<Summary>();
        if (const IndexClass* e = entryOf(n))
            if (e->getDescriptorLength() > 0)
                todo.emplace_back(e, n);
    }
    std::sort(todo.begin(), todo.end(), [](const auto& a, const auto& b) {
        return a.first->getDescriptorOffset() < b.first->getDescriptorOffset();
    });
    QFile f(folder->getDescriptorFileName());
    if (todo.empty() || !f.open(QIODevice::ReadOnly))
        return;
    const qint64 fileSize = f.size();
    for (const auto& [e, n] : todo) {
        const qint64 off = e->getDescriptorOffset(), len = e->getDescriptorLength();
        if (off < 0 || len <= 0 || off > fileSize || len > fileSize - off || !f.seek(off))
            continue;
        const QByteArray record = f.read(len);
        QDataStream s(record);
        Orvane::setupClassicStream(s);
        MessageDescriptor md;
        md.setCoreLoad(true);
        s >> md;
        if (s.status() != QDataStream::Ok)
            continue;
        Summary& sum = *n->sum;
        sum.subject = md.subject;
        sum.from = md.from;
        sum.sender = senderName(md.from);
        // A message without a readable Date line carries the parser's
        // fixed default: its date is the one it was received at.
        static const QString unknownDate = QString::fromLatin1(QCString(MessageClass(QCString("\r\n")).Date));
        if (!md.sentDate.isEmpty() && md.sentDate != unknownDate)
            sum.date = DateClass(QCString(md.sentDate.toLatin1())).toQDateTime();
        if (!sum.date.isValid())
            sum.date = DateClass(QCString(md.receivedDate.toLatin1())).toQDateTime();
    }
}

const Summary& MailFolderModel::Private::summary(Node* n) const
{
    if (!n->sum) {
        // Read the rows that follow along with this one: views ask row
        // after row.
        std::vector<Node*> window{n};
        if (const Node* p = n->parent) {
            const size_t end = std::min(p->children.size(), size_t(n->row) + 64);
            for (size_t i = size_t(n->row) + 1; i < end; ++i)
                window.push_back(p->children[i].get());
        }
        load(window);
    }
    return *n->sum;
}

QVariant MailFolderModel::Private::key(Node* n, int column) const
{
    const IndexClass* e = entryOf(n);
    switch (column) {
    case SubjectColumn:
        return summary(n).subject;
    case FromColumn:
        return summary(n).sender;
    case DateColumn:
        return summary(n).date;
    case SizeColumn:
        return e ? qint64(e->getSize()) : qint64(0);
    case UnreadColumn:
        return e && e->getUnreadMark();
    case AttachmentColumn:
        return e && hasAttachment(e);
    default:
        return QVariant();
    }
}

// The order of siblings: the sort column (then folder order), or folder
// order alone.
bool MailFolderModel::Private::less(Node* a, Node* b) const
{
    if (sortColumn >= 0) {
        const QVariant ka = key(a, sortColumn), kb = key(b, sortColumn);
        int c = 0;
        if (sortColumn == SubjectColumn || sortColumn == FromColumn) {
            c = QString::compare(ka.toString(), kb.toString(), Qt::CaseInsensitive);
        } else {
            const QPartialOrdering o = QVariant::compare(ka, kb);
            c = o == QPartialOrdering::Less ? -1 : o == QPartialOrdering::Greater ? 1 : 0;
        }
        if (c != 0)
            return sortOrder == Qt::AscendingOrder ? c < 0 : c > 0;
    }
    return a->seq < b->seq;
}

int MailFolderModel::Private::insertPosition(Node* parent, Node* n) const
{
    auto it = std::upper_bound(parent->children.begin(), parent->children.end(), n,
                               [this](Node* x, const std::unique_ptr<Node>& y) { return less(x, y.get()); });
    return int(it - parent->children.begin());
}

void MailFolderModel::Private::renumber(Node* parent, size_t from) const
{
    for (size_t i = from; i < parent->children.size(); ++i)
        parent->children[i]->row = int(i);
}

// Takes \a n (with its subtree) out of the tree, with the row signals when
// it is shown.
std::unique_ptr<Node> MailFolderModel::Private::detach(Node* n)
{
    const QScopedValueRollback<bool> guard(announcing, true);
    Node* p = n->parent;
    const int r = n->row;
    const bool visible = shown(n);
    if (visible)
        q->beginRemoveRows(indexOfNode(p), r, r);
    std::unique_ptr<Node> owned = std::move(p->children[size_t(r)]);
    p->children.erase(p->children.begin() + r);
    renumber(p, size_t(r));
    if (p == &root && r < fetched)
        --fetched;
    if (visible)
        q->endRemoveRows();
    owned->parent = nullptr;
    return owned;
}

// Puts \a n under \a parent at its place, with the row signals when it is
// shown there.
void MailFolderModel::Private::attach(std::unique_ptr<Node> n, Node* parent)
{
    const QScopedValueRollback<bool> guard(announcing, true);
    const int r = insertPosition(parent, n.get());
    bool visible;
    if (parent == &root)
        visible = r < fetched || fetched == topRows();
    else
        visible = shown(parent);
    if (visible)
        q->beginInsertRows(indexOfNode(parent), r, r);
    n->parent = parent;
    parent->children.insert(parent->children.begin() + r, std::move(n));
    renumber(parent, size_t(r));
    if (parent == &root && visible)
        ++fetched;
    if (visible)
        q->endInsertRows();
}

void MailFolderModel::Private::sortLevel(Node* top)
{
    std::vector<Node*> stack{top};
    while (!stack.empty()) {
        Node* p = stack.back();
        stack.pop_back();
        std::stable_sort(p->children.begin(), p->children.end(),
                         [this](const std::unique_ptr<Node>& a, const std::unique_ptr<Node>& b) {
                             return less(a.get(), b.get());
                         });
        renumber(p, 0);
        for (const auto& c : p->children)
            if (!c->children.empty())
                stack.push_back(c.get());
    }
}

// ---------------------------------------------------------------- model

MailFolderModel::MailFolderModel(QObject* parent) : QAbstractItemModel(parent), d(std::make_unique<Private>(this))
{
    FolderNotifier* n = FolderNotifier::instance();
    connect(n, &FolderNotifier::messageStored, this, &MailFolderModel::onStored);
    connect(n, &FolderNotifier::messageRemoved, this, &MailFolderModel::onRemoved);
    connect(n, &FolderNotifier::messageChanged, this, &MailFolderModel::onChanged);
    connect(n, &FolderNotifier::folderDestroyed, this, &MailFolderModel::onFolderDestroyed);
}

MailFolderModel::~MailFolderModel() = default;

void MailFolderModel::setFolder(MailFolder* folder)
{
    const QScopedValueRollback<bool> guard(d->announcing, true);
    beginResetModel();
    d->folder = folder;
    d->build();
    endResetModel();
}

MailFolder* MailFolderModel::folder() const
{
    return d->folder;
}

void MailFolderModel::setThreaded(bool threaded)
{
    if (threaded == d->threaded)
        return;
    const QScopedValueRollback<bool> guard(d->announcing, true);
    beginResetModel();
    d->threaded = threaded;
    d->build();
    endResetModel();
}

bool MailFolderModel::isThreaded() const
{
    return d->threaded;
}

void MailFolderModel::setBatchSize(int rows)
{
    d->batch = std::max(1, rows);
}

int MailFolderModel::batchSize() const
{
    return d->batch;
}

QString MailFolderModel::indexID(const QModelIndex& index) const
{
    const Node* n = d->nodeOf(index);
    return n ? n->id : QString();
}

IndexClass* MailFolderModel::entry(const QModelIndex& index) const
{
    const Node* n = d->nodeOf(index);
    return n ? d->entryOf(n) : nullptr;
}

QModelIndex MailFolderModel::indexOf(const QString& id, int column)
{
    if (d->pending() && !d->byId.contains(id))
        d->makeAll();
    const Node* n = d->byId.value(id);
    if (!n)
        return QModelIndex();
    const Node* top = n;
    while (top->parent != &d->root)
        top = top->parent;
    while (top->row >= d->fetched && canFetchMore(QModelIndex()))
        fetchMore(QModelIndex());
    return d->indexOfNode(n, column);
}

bool MailFolderModel::setRead(const QModelIndex& index, bool read)
{
    IndexClass* e = entry(index);
    if (!e)
        return false;
    if (e->getUnreadMark() == !read)
        return true;
    e->setUnreadMark(!read);
    if (read)
        d->folder->decrementUnread();
    else
        d->folder->incrementUnread();
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    dev.getDescriptor().status = read ? QStringLiteral("Read") : QStringLiteral("New");
    dev.saveDescriptor();  // records the entry, which reports the change
    return true;
}

QModelIndex MailFolderModel::index(int row, int column, const QModelIndex& parent) const
{
    const Node* p = parent.isValid() ? d->nodeOf(parent) : &d->root;
    if (row < 0 || column < 0 || column >= ColumnCount || (parent.isValid() && parent.column() != 0)
        || row >= d->childCount(p))
        return QModelIndex();
    return createIndex(row, column, p->children[size_t(row)].get());
}

QModelIndex MailFolderModel::parent(const QModelIndex& child) const
{
    const Node* n = d->nodeOf(child);
    return n ? d->indexOfNode(n->parent) : QModelIndex();
}

int MailFolderModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return d->fetched;
    if (parent.column() != 0)
        return 0;
    return int(d->nodeOf(parent)->children.size());
}

int MailFolderModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() && parent.column() != 0 ? 0 : ColumnCount;
}

bool MailFolderModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return d->topRows() > 0;
    return parent.column() == 0 && !d->nodeOf(parent)->children.empty();
}

QVariant MailFolderModel::data(const QModelIndex& index, int role) const
{
    Node* n = d->nodeOf(index);
    const IndexClass* e = n ? d->entryOf(n) : nullptr;
    if (!e)
        return QVariant();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case SubjectColumn:
        case FromColumn:
            return d->key(n, column);
        case DateColumn: {
            const QDateTime t = d->summary(n).date;
            return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
        }
        case SizeColumn:
            return sizeText(e->getSize());
        case UnreadColumn:
            return e->getUnreadMark() ? QStringLiteral("\u25CF") : QString();
        case AttachmentColumn:
            return hasAttachment(e) ? QStringLiteral("\u2709") : QString();
        }
        return QVariant();
    case Qt::ToolTipRole:
        if (column == FromColumn)
            return d->summary(n).from;
        if (column == SubjectColumn)
            return d->summary(n).subject;
        return QVariant();
    case Qt::TextAlignmentRole:
        if (column == SizeColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (column == UnreadColumn || column == AttachmentColumn)
            return int(Qt::AlignCenter);
        return QVariant();
    case SortRole:
        return d->key(n, column);
    case IndexIDRole:
        return n->id;
    case UnreadRole:
        return e->getUnreadMark();
    case AttachmentRole:
        return hasAttachment(e);
    default:
        return QVariant();
    }
}

bool MailFolderModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != UnreadRole || !index.isValid())
        return false;
    return setRead(index, !value.toBool());
}

QVariant MailFolderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    static const char* const names[] = {
        QT_TR_NOOP("Subject"), QT_TR_NOOP("From"),   QT_TR_NOOP("Date"),
        QT_TR_NOOP("Size"),    QT_TR_NOOP("Unread"), QT_TR_NOOP("Attachment"),
    };
    if (role == Qt::ToolTipRole || (role == Qt::DisplayRole && section < UnreadColumn))
        return tr(names[section]);
    if (role == Qt::DisplayRole)  // the mark columns are narrow: their marks
        return section == UnreadColumn ? QStringLiteral("\u25CF") : QStringLiteral("\u2709");
    return QVariant();
}

Qt::ItemFlags MailFolderModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (d->nodeOf(index)->children.empty())
        f |= Qt::ItemNeverHasChildren;
    return f;
}

void MailFolderModel::sort(int column, Qt::SortOrder order)
{
    if (column >= ColumnCount)
        return;
    const QScopedValueRollback<bool> guard(d->announcing, true);
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<Node*> nodes;
    nodes.reserve(size_t(before.size()));
    for (const QModelIndex& i : before)
        nodes.push_back(d->nodeOf(i));
    d->sortColumn = column;
    d->sortOrder = order;
    if (column >= 0)
        d->makeAll();
    if (column >= 0 && column <= DateColumn) {
        std::vector<Node*> all;
        all.reserve(size_t(d->byId.size()));
        for (Node* n : std::as_const(d->byId))
            all.push_back(n);
        d->load(std::move(all));
    }
    d->sortLevel(&d->root);
    QModelIndexList after;
    after.reserve(before.size());
    for (int i = 0; i < before.size(); ++i)
        after.append(d->shown(nodes[size_t(i)]) ? d->indexOfNode(nodes[size_t(i)], before[i].column())
                                                : QModelIndex());
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool MailFolderModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && d->fetched < d->topRows();
}

void MailFolderModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    if (d->announcing) {
        if (!d->fetchQueued) {
            d->fetchQueued = true;
            QTimer::singleShot(0, this, [this] {
                d->fetchQueued = false;
                fetchMore(QModelIndex());
            });
        }
        return;
    }
    const QScopedValueRollback<bool> guard(d->announcing, true);
    const int first = d->fetched;
    const int last = std::min(d->topRows(), first + d->batch) - 1;
    if (last >= int(d->root.children.size()))
        d->makeNext(size_t(last + 1) - d->root.children.size());
    std::vector<Node*> rows;
    rows.reserve(size_t(last - first + 1));
    for (int r = first; r <= last; ++r)
        rows.push_back(d->root.children[size_t(r)].get());
    d->load(std::move(rows));
    beginInsertRows(QModelIndex(), first, last);
    d->fetched = last + 1;
    endInsertRows();
}

QHash<int, QByteArray> MailFolderModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractItemModel::roleNames();
    names.insert(SortRole, "sortValue");
    names.insert(IndexIDRole, "indexID");
    names.insert(UnreadRole, "unread");
    names.insert(AttachmentRole, "attachment");
    return names;
}

// ---------------------------------------------------------------- updates

void MailFolderModel::onStored(MailFolder* folder, const QString& id)
{
    IndexClass* e = folder == d->folder ? folder->indexIDict()->find(id) : nullptr;
    if (!e || d->byId.contains(id))
        return;
    if (d->pending()) {  // after the rows not fetched yet, in folder order
        d->later.push_back(e);
        return;
    }
    std::unique_ptr<Node> n = d->newNode(id);
    Node* raw = n.get();
    Node* p = d->threaded ? d->threadParent(raw) : nullptr;
    d->attach(std::move(n), p ? p : &d->root);
}

void MailFolderModel::onRemoved(MailFolder* folder, const QString& id)
{
    Node* n = folder == d->folder ? d->byId.value(id) : nullptr;
    if (!n && folder == d->folder && d->pending()) {  // a row not fetched yet
        const IndexClass* e = folder->indexIDict()->find(id);
        const auto it = std::find(d->later.begin() + std::ptrdiff_t(d->laterPos), d->later.end(), e);
        if (it != d->later.end())
            d->later.erase(it);
    }
    if (!n)
        return;
    // Its replies become thread roots, as they would when the folder is
    // opened again.
    while (!n->children.empty()) {
        std::unique_ptr<Node> c = d->detach(n->children.back().get());
        d->attach(std::move(c), &d->root);
    }
    d->byId.remove(id);
    d->detach(n);
}

void MailFolderModel::onChanged(MailFolder* folder, const QString& id)
{
    Node* n = folder == d->folder ? d->byId.value(id) : nullptr;
    if (!n)
        return;
    n->sum.reset();
    Node* want = d->threaded ? d->threadParent(n) : nullptr;
    if (!want)
        want = &d->root;
    for (const Node* a = want; a != &d->root; a = a->parent)
        if (a == n)
            want = &d->root;  // would close a cycle
    const bool moved = want != n->parent;
    bool misplaced = false;
    if (!moved && d->sortColumn >= 0) {
        const auto& sib = n->parent->children;
        const size_t r = size_t(n->row);
        misplaced = (r > 0 && d->less(n, sib[r - 1].get())) || (r + 1 < sib.size() && d->less(sib[r + 1].get(), n));
    }
    if (moved || misplaced) {
        std::unique_ptr<Node> owned = d->detach(n);
        d->attach(std::move(owned), want);
    } else if (d->shown(n)) {
        Q_EMIT dataChanged(d->indexOfNode(n, 0), d->indexOfNode(n, ColumnCount - 1));
    }
}

void MailFolderModel::onFolderDestroyed(MailFolder* folder)
{
    if (folder == d->folder)
        setFolder(nullptr);
}
