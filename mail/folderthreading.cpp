// Threading of a mail folder's messages (MailFolder::reparentIndex,
// reparentByRelated, reparentBySubject, crossReferenceIndex): links a
// reply to its parent in the entries, the descriptors and the index file,
// and records the reverse links in the parent's descriptor.
#include "mailfolder.h"

#include "indexclass.h"
#include "messagedevice.h"

#include <QSet>

bool MailFolder::linkToParent(IndexClass* e, const QString& parentID)
{
    IndexClass* parent = indexCollection.find(parentID);
    if (!parent || parent == e)
        return false;
    // Refuse a link that would make e its own ancestor (a hostile or
    // looping In-Reply-To / References chain). That needs e to have
    // children; most messages being linked have none, so the walk up the
    // parent's ancestors is rarely needed.
    if (indexCollection.isParent(e->getID())) {
        QSet<const IndexClass*> seen;
        for (const IndexClass* up = parent; up; up = indexCollection.find(up->getParentID())) {
            if (up == e || seen.contains(up))
                return false;
            seen.insert(up);
            if (up->getParentID().isEmpty())
                break;
        }
    }
    MessageDevice child(e);
    child.loadDescriptor(false);
    child.getDescriptor().parentIndexID = parentID;
    child.saveDescriptor();

    MessageDevice par(parent);
    par.loadDescriptor(false);
    MessageDescriptor& pd = par.getDescriptor();
    if (!pd.references.contains(e->getMessageID())) {
        pd.references.append(e->getMessageID());
        if (!pd.relatedIndexIDList.contains(e->getID()))
            pd.relatedIndexIDList.append(e->getID());
        par.saveDescriptor();
    }
    e->_parentID = parentID;  // set directly: the tables learn it below
    e->_lazy &= quint8(~IndexClass::ParentLazy);
    indexCollection.noteParentLinked(parentID);
    saveIndex(e);
    return true;
}

void MailFolder::reparentIndex(IndexClass* e)
{
    if (!e)
        return;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    const QString parent = translateLocalMessageID(dev.getDescriptor().inReplyTo);
    if (!parent.isEmpty())
        linkToParent(e, parent);
}

bool MailFolder::reparentByRelated(IndexClass* e)
{
    if (!e)
        return false;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    // Subjects never match, so the parent is the first reference that names
    // a message of this folder (one that can be linked without a cycle).
    for (const QString& ref : dev.getDescriptor().references) {
        const QString id = translateLocalMessageID(ref);
        if (!id.isEmpty() && linkToParent(e, id))
            return true;
    }
    return false;
}

bool MailFolder::reparentBySubject(IndexClass*)
{
    return false;
}

void MailFolder::crossReferenceIndex(IndexClass* e)
{
    if (!e)
        return;
    MessageDevice dev(e);
    dev.loadDescriptor(false);
    MessageDescriptor& d = dev.getDescriptor();
    bool changed = false;
    const QStringList refs = d.references;
    for (const QString& ref : refs) {
        const QString g = translateGlobalMessageID(ref);
        if (g.isEmpty() || g == e->getID())
            continue;
        if (!d.relatedIndexIDList.contains(g)) {
            d.relatedIndexIDList.append(g);
            changed = true;
        }
        IndexClass* other = findIndex(g);
        if (!other || other == e)
            continue;
        MessageDevice od(other);
        od.loadDescriptor(false);
        MessageDescriptor& o = od.getDescriptor();
        bool otherChanged = false;
        if (!o.references.contains(e->getMessageID())) {
            o.references.append(e->getMessageID());
            otherChanged = true;
        }
        if (!o.relatedIndexIDList.contains(e->getID())) {
            o.relatedIndexIDList.append(e->getID());
            otherChanged = true;
        }
        if (otherChanged)
            od.saveDescriptor();
    }
    if (changed)
        dev.saveDescriptor();
}
