// The walk of the program's doubly linked lists (touchscreens, workers): a
// list keeps its first node and one cursor (the current node); a node has
// pPrev and pNext. The lists keep their own counts, locks and node contents.
#pragma once

// The cursor on the first node; 1 if there is one.
template <class Node>
int CursorToFirst(Node* pFirst, Node*& pCurrent) {
    pCurrent = pFirst;
    return pCurrent != nullptr ? 1 : 0;
}

// 1 if the cursor moved on; 0 at the last node (the cursor stays) or
// without a current node.
template <class Node>
int CursorToNext(Node*& pCurrent) {
    if (pCurrent == nullptr || pCurrent->pNext == nullptr) return 0;
    pCurrent = pCurrent->pNext;
    return 1;
}

// The cursor on the last node; 1 if there is one.
template <class Node>
int CursorToLast(Node* pFirst, Node*& pCurrent) {
    pCurrent = pFirst;
    if (pCurrent == nullptr) return 0;
    while (pCurrent->pNext != nullptr) pCurrent = pCurrent->pNext;
    return 1;
}

// Links pNode in after the last node and puts the cursor on it.
template <class Node>
void LinkAtTail(Node*& pFirst, Node*& pCurrent, Node* pNode) {
    pNode->pPrev = nullptr;
    pNode->pNext = nullptr;
    if (CursorToLast(pFirst, pCurrent)) {
        pCurrent->pNext = pNode;
        pNode->pPrev = pCurrent;
    } else {
        pFirst = pNode;
    }
    pCurrent = pNode;
}

// Unlinks the current node and returns it (the caller frees it), or none
// without a current node. The cursor goes to the node before it, or to the
// node after it when it was the first.
template <class Node>
Node* UnlinkCurrent(Node*& pFirst, Node*& pCurrent) {
    Node* pNode = pCurrent;
    if (pNode == nullptr) return nullptr;
    if (pNode->pNext != nullptr) pNode->pNext->pPrev = pNode->pPrev;
    if (pNode->pPrev != nullptr) {
        pNode->pPrev->pNext = pNode->pNext;
        pCurrent = pNode->pPrev;
    } else {
        pFirst = pNode->pNext;
        pCurrent = pNode->pNext;
    }
    return pNode;
}
